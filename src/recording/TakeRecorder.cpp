#include "recording/TakeRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
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
// A name taken on disk moves on to the next; this many, and the file fails.
constexpr int kNameTries = 100;

// "Vocal - Dec 5 - 2.15.07 PM.wav: No space left on device (and 2 more files)"
QString failureText(const std::vector<FileFailure>& failures) {
    const FileFailure& first = failures.front();
    QString text = QString::fromStdString(first.file) + QStringLiteral(": ") +
                   QString::fromStdString(first.reason);
    if (failures.size() > 1)
        text += QStringLiteral(" (and %1 more files)").arg(failures.size() - 1);
    return text;
}

Status failureStatus(const std::vector<FileFailure>& failures) {
    return Status::failed(QStringLiteral("Recording error: ") + failureText(failures));
}

Status notStarted(const QString& why) {
    return Status::failed(QStringLiteral("Recording not started: ") + why);
}

QString reason(const QString& path, int error) {
    return path + QStringLiteral(": ") +
           QString::fromStdString(std::generic_category().message(error));
}

// A date or time as it may stand in a name.
QString stamp(const DateText& fmt, Clock::WallTime t) {
    return safeName(QString::fromStdString(fmt.format(t)));
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

struct Attempt {
    std::unique_ptr<WAVWriter> writer;
    QString name;  // the last name tried
    std::error_code why;
};

// The first of `names` that can be created in `folder` (exclusively: no file
// is replaced), moving on from a name taken on disk.
Attempt create(const std::function<QString()>& names, WAVWriter::Params params,
               const std::filesystem::path& folder, const Clock& clock) {
    Attempt a;
    for (int tries = 0; tries < kNameTries; ++tries) {
        a.name = names();
        params.path = folder / a.name.toStdString();
        a.writer = WAVWriter::create(params, clock, &a.why);
        if (a.writer || a.why != std::errc::file_exists) break;
    }
    return a;
}

}  // namespace

TakeRecorder::TakeRecorder(const Clock& c, FileQueue::FailureHandler onFailure)
    : clock(c), files(queue, std::move(onFailure)), takeStart(c.instant()), setStart(takeStart) {}

void TakeRecorder::prepare(int channels, int rate, int blockFrames) {
    // Room for several seconds of every input and the mix, and always for a
    // few of the largest blocks.
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    const std::size_t perSecond = static_cast<std::size_t>(std::max(rate, 1)) * (n + 1) * 4;
    const std::size_t largest = RecordBlock::bytesFor(static_cast<std::uint32_t>(n),
                                                      static_cast<std::uint32_t>(blockFrames));
    files.resize(std::max(kBufferSeconds * perSecond, 4 * (largest + 64)));
}

double TakeRecorder::elapsed() const {
    return secondsBetween(takeStart.steady, clock.ticks());
}

Status TakeRecorder::start(const QString& root, const std::optional<QString>& dayFolder,
                           const std::vector<TakeInput>& inputs, int rate, const RoomFor& roomFor) {
    const Clock::Instant now = clock.instant();
    const QString day = dayFolder ? *dayFolder : root + u'/' + stamp(dayFmt, now.wall);
    std::error_code made;
    std::filesystem::create_directories(fsPath(day), made);
    if (made) return notStarted(reason(day, made.value()));
    if (roomFor && !roomFor(day)) return notStarted(QStringLiteral("the disk is full"));
    Status refused;
    const std::optional<QString> folder = makeTakeFolder(day, now.wall, refused);
    if (!folder) return refused;
    const QString previous = std::exchange(takeFolder, *folder);
    mark = OpenTakeMark::create(takeFolder);  // before the take has a file
    takeStart = now;
    Opened opened;
    files.sync([&] { opened = openSet(now, inputs, rate); });
    setStart = now;
    openSetNumber = opened.set;
    if (!opened.any) {
        // Not one file could be made: there is no take to run.
        mark.reset();
        ::rmdir(fsPath(takeFolder).c_str());
        takeFolder = previous;
        return notStarted(failureText(opened.failures));
    }
    active = true;
    failedFiles = 0;
    count(opened.failures);
    return opened.failures.empty() ? Status{} : failureStatus(opened.failures);
}

std::optional<QString> TakeRecorder::makeTakeFolder(const QString& day, Clock::WallTime now,
                                                    Status& why) {
    const QString time = QString::fromStdString(minuteFmt.format(now));
    // Made with mkdir, never reused: a folder that another recorder made
    // since the count moves this take on to the next number.
    for (int n = takesIn(day) + 1;; ++n) {
        const QString folder =
            day + u'/' + safeName(QStringLiteral("Recording %1 - ").arg(n) + time);
        if (::mkdir(fsPath(folder).c_str(), 0777) == 0) return folder;
        if (errno != EEXIST || n >= 1'000'000) {
            why = notStarted(reason(folder, errno));
            return std::nullopt;
        }
    }
}

Status TakeRecorder::stop(const QString& root, const Status& saying) {
    std::vector<FileFailure> failures;
    files.sync([&] { failures = closeSet(); });
    count(failures);
    // Every file exact: the marker goes. A file that failed may not be.
    if (mark && failedFiles > 0) mark->keep();
    mark.reset();
    active = false;
    Status saved = saying + Status::ok(takeFolder.isEmpty() ? root : takeFolder);
    if (failedFiles > 0) {
        saved =
            saved + Status::failed(
                        failedFiles == 1
                            ? QStringLiteral(" · 1 file could not be written")
                            : QStringLiteral(" · %1 files could not be written").arg(failedFiles));
    }
    return failures.empty() ? saved
                            : saved + Status::ok(QStringLiteral(" — ")) + failureStatus(failures);
}

Status TakeRecorder::roll(const std::vector<TakeInput>& inputs, int rate) {
    const Clock::Instant now = clock.instant();
    std::vector<FileFailure> closed;
    Opened opened;
    // One step on the file thread: each buffer goes wholly to one set.
    files.sync([&] {
        closed = closeSet();
        opened = openSet(now, inputs, rate);
    });
    setStart = now;
    openSetNumber = opened.set;
    opened.failures.insert(opened.failures.begin(), closed.begin(), closed.end());
    count(opened.failures);
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
    if (active) count(failures);
    if (exhausted && active && set == openSetNumber) return endAfter(failures, QString());
    return failureStatus(failures);
}

Status TakeRecorder::endAfter(const std::vector<FileFailure>& failures, const QString& root) {
    stop(root);
    return failureStatus(failures) +
           Status::failed(QStringLiteral(" — recording stopped; saved to ") + takeFolder);
}

std::vector<FileFailure> TakeRecorder::closeSet() {
    // File thread: those that failed while written, then those that failed to close.
    TakeFiles& take = files.files();
    std::vector<FileFailure> failures = take.takeFailures(), closed = take.closeAll();
    failures.insert(failures.end(), closed.begin(), closed.end());
    return failures;
}

void TakeRecorder::waitForFiles() {
    files.sync([] {});
}

TakeRecorder::Opened TakeRecorder::openSet(Clock::Instant at, const std::vector<TakeInput>& inputs,
                                           int rate) {
    // File thread.
    Opened opened;
    TakeFiles& take = files.files();
    const std::filesystem::path folder = fsPath(takeFolder);
    SetNames names(stamp(dayFmt, at.wall) + QStringLiteral(" - ") + stamp(secondFmt, at.wall));
    auto made = [&opened](Attempt& a) {
        if (a.writer) {
            opened.any = true;
        } else {
            opened.failures.push_back({a.name.toStdString(), a.why.message()});
        }
        return std::move(a.writer);
    };
    WAVWriter::Params params{{}, 2, rate, at.wall, "Tessaly", "Mix of all armed inputs"};
    Attempt mix = create([&] { return names.nextMix(); }, params, folder, clock);
    take.mixWriter = made(mix);
    params.channels = 1;
    for (const TakeInput& in : inputs) {
        const int number = static_cast<int>(in.id) + 1;
        params.description = in.name.toStdString();  // the label as typed
        int tried = 0;
        Attempt a =
            create([&] { return names.nextInput(in.name, number, tried); }, params, folder, clock);
        if (!a.writer && SetNames::refusesName(a.why.value())) {
            // The volume refuses the name itself: the input is recorded all
            // the same, under a plain one.
            const QString refused = a.name, why = QString::fromStdString(a.why.message());
            tried = 0;
            a = create([&] { return names.nextFallback(number, tried); }, params, folder, clock);
            qInfo().noquote() << QStringLiteral("recording: %1 refused (%2); %3")
                                     .arg(refused, why,
                                          a.writer ? QStringLiteral("recorded as ") + a.name
                                                   : QStringLiteral("not recorded"));
        }
        if (auto writer = made(a)) {
            take.writers[in.id] = std::move(writer);
        } else {
            take.inputsMissing();
        }
    }
    syncFolder(takeFolder);
    opened.set = take.generation();
    return opened;
}
