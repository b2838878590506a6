// Takes and their files: the recording half of the engine. Folders and
// names are decided on the main thread; files are opened, written and
// closed only on the file thread, so a recorded block never meets a
// half-changed set.

#include <fcntl.h>
#include <unistd.h>

#include <QDir>

#include "engine/RoomEngine.h"

namespace {

QString failureText(const std::vector<FileFailure>& failures) {
    const FileFailure& first = failures.front();
    QString text =
        QStringLiteral("Recording error: %1: %2")
            .arg(QString::fromStdString(first.file), QString::fromStdString(first.reason));
    if (failures.size() > 1)
        text += QStringLiteral(" (and %1 more files)").arg(failures.size() - 1);
    return text;
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
    int n = 0;
    for (const QString& name : entries) {
        if (name.startsWith(QStringLiteral("Recording "))) ++n;
    }
    return n;
}

}  // namespace

void RoomEngine::record(const std::optional<QString>& dayFolder) {
    if (!running_ || recording_) return;
    const Clock::Instant now = clock.instant();
    const QString day = dayFolder ? *dayFolder : rootPath_ + u'/' + stamp(dayFmt, now.wall);
    QDir().mkpath(day);
    const QString take =
        day +
        QStringLiteral("/Recording %1 - %2").arg(takesIn(day) + 1).arg(stamp(minuteFmt, now.wall));
    QDir().mkpath(take);
    recFolder = take;
    recStart = now;
    assign(folderName_, QDir(take).dirName());

    const SetPlan plan = planFiles(now);
    SetOpened opened;
    ioQ.sync([&] { opened = openFiles(plan); });
    fileStart = now;
    fileSet = opened.generation;
    if (!opened.any) {
        // Not one file could be made: there is no take to run.
        assign(status_, failureText(opened.failures) + QStringLiteral(" — recording not started"));
        return;
    }
    setCaptureRecording(true);
    assign(recording_, true);
    assign(elapsed_, 0.0);
    if (!opened.failures.empty()) assign(status_, failureText(opened.failures));
}

void RoomEngine::stopRecording() {
    if (!recording_) return;
    setCaptureRecording(false);  // blocks queued before this are written before the close
    std::vector<FileFailure> failures;
    ioQ.sync([&] { failures = ioQ.files().closeAll(); });
    assign(recording_, false);
    QString text = QStringLiteral("Saved to ") + (recFolder.isEmpty() ? rootPath_ : recFolder);
    if (!failures.empty()) text += QStringLiteral(" — ") + failureText(failures);
    assign(status_, text);
}

void RoomEngine::rollFiles() {
    const Clock::Instant now = clock.instant();
    const SetPlan plan = planFiles(now);
    std::vector<FileFailure> closed;
    SetOpened opened;
    // One block on the file thread: each buffer goes wholly to one set.
    ioQ.sync([&] {
        closed = ioQ.files().closeAll();
        opened = openFiles(plan);
    });
    fileStart = now;
    fileSet = opened.generation;
    opened.failures.insert(opened.failures.begin(), closed.begin(), closed.end());
    if (!opened.any) {
        endTakeAfterFailure(opened.failures);
    } else if (!opened.failures.empty()) {
        assign(status_, failureText(opened.failures));
    }
}

RoomEngine::SetPlan RoomEngine::planFiles(Clock::Instant at) const {
    SetPlan plan;
    plan.folder = recFolder;
    plan.stamp = stamp(dayFmt, at.wall) + QStringLiteral(" - ") + stamp(secondFmt, at.wall);
    plan.hz = hwRate();
    plan.start = at.wall;
    for (const Channel& ch : channels_) {
        if (!ch.armed) continue;
        plan.inputs.push_back({ch.id, safeName(ch.displayName())});
        plan.descriptions.append(ch.displayName());
    }
    return plan;
}

RoomEngine::SetOpened RoomEngine::openFiles(const SetPlan& plan) {
    SetOpened opened;
    if (plan.folder.isEmpty()) return opened;
    TakeFiles& files = ioQ.files();
    const std::filesystem::path folder = fsPath(plan.folder);
    const std::vector<QString> names = setFileNames(plan.inputs, plan.stamp, folder);
    auto create = [&](const QString& name, int channels, const QString& description) {
        std::error_code why;
        auto writer = WAVWriter::create({folder / name.toStdString(), channels, plan.hz, plan.start,
                                         "Tessaly", description.toStdString()},
                                        clock, &why);
        if (writer) {
            opened.any = true;
        } else {
            opened.failures.push_back({name.toStdString(), why.message()});
        }
        return writer;
    };
    for (std::size_t i = 0; i < plan.inputs.size(); ++i) {
        auto writer = create(names[i], 1, plan.descriptions[static_cast<qsizetype>(i)]);
        if (writer) files.writers[plan.inputs[i].id] = std::move(writer);
    }
    files.mixWriter = create(names.back(), 2, QStringLiteral("Mix of all armed inputs"));
    syncFolder(plan.folder);
    opened.generation = files.generation();
    return opened;
}

void RoomEngine::filesFailed(const std::vector<FileFailure>& failures, bool exhausted,
                             std::uint64_t set) {
    // A set that has since been replaced says nothing about the one now open.
    if (exhausted && recording_ && set == fileSet) {
        endTakeAfterFailure(failures);
    } else {
        assign(status_, failureText(failures));
    }
}

void RoomEngine::endTakeAfterFailure(const std::vector<FileFailure>& failures) {
    stopRecording();
    assign(status_,
           failureText(failures) + QStringLiteral(" — recording stopped; saved to ") + recFolder);
}
