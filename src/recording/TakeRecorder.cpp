#include "recording/TakeRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>

#include "recording/FileNames.h"
#include "recording/RecordBlock.h"

namespace {

// Seconds of recorded audio the block ring holds while the disk is slow.
constexpr std::size_t kBufferSeconds = 5;
// A set rolls over this long (of its fastest file) before a file would
// outgrow its header's sizes.
constexpr double kRollHeadroomSeconds = 10.0;

Status failureStatus(const std::vector<FileFailure>& failures) {
    const FileFailure& first = failures.front();
    QString text = QStringLiteral("Recording error: ") + QString::fromStdString(first.file) +
                   QStringLiteral(": ") + QString::fromStdString(first.reason);
    if (failures.size() > 1)
        text += QStringLiteral(" (and %1 more files)").arg(failures.size() - 1);
    return Status::failed(text);
}

// A date or time as it may stand in a path.
QString stamp(const DateText& fmt, Clock::WallTime t) {
    return pathSafe(QString::fromStdString(fmt.format(t)));
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(path.toStdString());
}

// Makes the folder's new entries survive a power cut, not only the files' data.
void syncFolder(const QString& folder) {
    const int fd = ::open(fsPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

int takesIn(const QString& dayFolder) {
    const QStringList entries = QDir(dayFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                          QDir::Hidden | QDir::System);
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const QString& name) {
        return name.startsWith(QStringLiteral("Recording "));
    }));
}

}  // namespace

TakeRecorder::TakeRecorder(const Clock& c, FileQueue::FailureHandler onFailure)
    : clock(c), files(queue, std::move(onFailure)), takeStart(c.instant()), setStart(takeStart) {}

void TakeRecorder::prepare(int channels, int rate) {
    // Room for several seconds of every input and the mix, and always for a
    // few of the largest blocks.
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    const std::size_t perSecond = static_cast<std::size_t>(std::max(rate, 1)) * (n + 1) * 4;
    const std::size_t largest =
        RecordBlock::bytesFor(static_cast<std::uint32_t>(n), RecordBlock::maxFrames);
    files.resize(std::max(kBufferSeconds * perSecond, 4 * (largest + 64)));
}

double TakeRecorder::elapsed() const {
    return secondsBetween(takeStart.steady, clock.ticks());
}

Status TakeRecorder::start(const QString& root, const std::optional<QString>& dayFolder,
                           const std::vector<TakeInput>& inputs, int rate) {
    const Clock::Instant now = clock.instant();
    const QString day = dayFolder ? *dayFolder : root + u'/' + stamp(dayFmt, now.wall);
    QDir().mkpath(day);
    takeFolder =
        day + QStringLiteral("/Recording %1 - ").arg(takesIn(day) + 1) + stamp(minuteFmt, now.wall);
    QDir().mkpath(takeFolder);
    mark = OpenTakeMark::create(takeFolder);  // before the take has a file
    takeStart = now;
    Opened opened;
    files.sync([&] { opened = openSet(now, inputs, rate); });
    setStart = now;
    openSetNumber = opened.set;
    if (!opened.any) {
        // Not one file could be made: there is no take to run.
        mark.reset();
        return failureStatus(opened.failures)
            .then(QString(), Status::failed(QStringLiteral(" — recording not started")));
    }
    active = true;
    return opened.failures.empty() ? Status{} : failureStatus(opened.failures);
}

Status TakeRecorder::stop(const QString& root, const Status& saying) {
    std::vector<FileFailure> failures;
    files.sync([&] { failures = files.files().closeAll(); });
    mark.reset();  // every file is exact now
    active = false;
    const Status saved =
        saying.then(QString(), Status::ok(takeFolder.isEmpty() ? root : takeFolder));
    return failures.empty() ? saved : saved.then(QStringLiteral(" — "), failureStatus(failures));
}

Status TakeRecorder::roll(const std::vector<TakeInput>& inputs, int rate) {
    const Clock::Instant now = clock.instant();
    std::vector<FileFailure> closed;
    Opened opened;
    // One step on the file thread: each buffer goes wholly to one set.
    files.sync([&] {
        closed = files.files().closeAll();
        opened = openSet(now, inputs, rate);
    });
    setStart = now;
    openSetNumber = opened.set;
    opened.failures.insert(opened.failures.begin(), closed.begin(), closed.end());
    if (!opened.any) return endAfter(opened.failures, QString());
    return opened.failures.empty() ? Status{} : failureStatus(opened.failures);
}

bool TakeRecorder::rollDue(int rate) const {
    // The mix is the fastest-growing file: two channels.
    const double headroom = kRollHeadroomSeconds * 2 * WAVWriter::bytesPerSample * rate;
    return secondsBetween(setStart.steady, clock.ticks()) >= rollover ||
           static_cast<double>(files.largestFile()) + headroom >= static_cast<double>(maxFileBytes);
}

Status TakeRecorder::filesFailed(const std::vector<FileFailure>& failures, bool exhausted,
                                 std::uint64_t set) {
    if (exhausted && active && set == openSetNumber) return endAfter(failures, QString());
    return failureStatus(failures);
}

Status TakeRecorder::endAfter(const std::vector<FileFailure>& failures, const QString& root) {
    stop(root);
    return failureStatus(failures).then(
        QString(), Status::failed(QStringLiteral(" — recording stopped; saved to ") + takeFolder));
}

void TakeRecorder::settle() {
    files.sync([] {});
}

TakeRecorder::Opened TakeRecorder::openSet(Clock::Instant at, const std::vector<TakeInput>& inputs,
                                           int rate) {
    // File thread.
    Opened opened;
    TakeFiles& take = files.files();
    const std::filesystem::path folder = fsPath(takeFolder);
    const QString setStamp =
        stamp(dayFmt, at.wall) + QStringLiteral(" - ") + stamp(secondFmt, at.wall);
    std::vector<SetInput> named;
    for (const TakeInput& in : inputs) named.push_back({in.id, safeName(in.name)});
    const std::vector<QString> names = setFileNames(named, setStamp, folder);
    auto create = [&](const QString& name, int channels, const QString& description) {
        std::error_code why;
        auto writer = WAVWriter::create({folder / name.toStdString(), channels, rate, at.wall,
                                         "Tessaly", description.toStdString()},
                                        clock, &why);
        if (writer) {
            opened.any = true;
        } else {
            opened.failures.push_back({name.toStdString(), why.message()});
        }
        return writer;
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        auto writer = create(names[i], 1, inputs[i].name);
        if (writer) take.writers[inputs[i].id] = std::move(writer);
    }
    take.mixWriter = create(names.back(), 2, QStringLiteral("Mix of all armed inputs"));
    syncFolder(takeFolder);
    opened.set = take.generation();
    return opened;
}
