#include "recording/TakeSets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <algorithm>
#include <filesystem>

#include "recording/FileCalls.h"
#include "recording/FileNames.h"

namespace {

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
    FileCalls::use().fsync(fd);
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

Status TakeSets::failureStatus(const std::vector<FileFailure>& failures) {
    return Status::failed(QStringLiteral("Recording error: ") + failureText(failures));
}

Status TakeSets::stoppedAfter(const std::vector<FileFailure>& failures, const QString& folder) {
    return failureStatus(failures) +
           Status::failed(QStringLiteral(" — recording stopped; saved to ") + folder);
}

TakeSets::Opened TakeSets::open(const Request& r) {
    failedFiles = 0;
    const QString day = r.dayFolder ? *r.dayFolder : r.root + u'/' + stamp(dayFmt, r.at.wall);
    Opened opened;
    std::error_code made;
    std::filesystem::create_directories(fsPath(day), made);
    if (made) return opened.status = notStarted(reason(day, made.value())), opened;
    if (r.freeSpace) opened.free = r.freeSpace(day.toStdString());
    if (opened.free && static_cast<double>(*opened.free) < r.reserve)
        return opened.status = notStarted(QStringLiteral("the disk is full")), opened;
    const std::optional<QString> folder = makeTakeFolder(day, r.at.wall, opened.status);
    if (!folder) return opened;
    takeFolder = *folder;
    mark = OpenTakeMark::create(takeFolder);  // before the take has a file
    const Made set = openSet(r.at, r.inputs, r.rate);
    if (!set.any) {
        // Not one file could be made: there is no take to run.
        mark.reset();
        ::rmdir(fsPath(takeFolder).c_str());
        return opened.status = notStarted(failureText(set.failures)), opened;
    }
    failedFiles = set.failures.size();
    running = true;
    opened.folder = takeFolder;
    opened.set = take.generation();
    if (!set.failures.empty()) opened.status = failureStatus(set.failures);
    return opened;
}

std::optional<QString> TakeSets::makeTakeFolder(const QString& day, Clock::WallTime now,
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

Status TakeSets::close(const QString& root, const Status& saying) {
    if (!std::exchange(running, false)) return {};  // it never began: nothing to say
    const std::vector<FileFailure> failures = closeSet();
    count(failures.size());
    // Every file exact: the marker goes. A file that failed may not be.
    if (mark && failedFiles > 0) mark->keep();
    mark.reset();
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

TakeSets::Rolled TakeSets::roll(const std::vector<TakeInput>& inputs, int rate, Clock::Instant at) {
    if (!running) return {};
    std::vector<FileFailure> failures = closeSet();
    Made set = openSet(at, inputs, rate);
    failures.insert(failures.end(), set.failures.begin(), set.failures.end());
    count(failures.size());
    Rolled rolled;
    rolled.set = take.generation();
    if (!set.any) {
        close(QString(), Status{});
        rolled.ended = true;
        rolled.status = stoppedAfter(failures, takeFolder);
    } else if (!failures.empty()) {
        rolled.status = failureStatus(failures);
    }
    return rolled;
}

std::vector<FileFailure> TakeSets::closeSet() {
    // Those that failed while written, then those that failed to close.
    std::vector<FileFailure> failures = take.takeFailures(), closed = take.closeAll();
    failures.insert(failures.end(), closed.begin(), closed.end());
    return failures;
}

TakeSets::Made TakeSets::openSet(Clock::Instant at, const std::vector<TakeInput>& inputs,
                                 int rate) {
    Made opened;
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
        take.step();
        if (auto writer = made(a)) {
            take.writers[in.id] = std::move(writer);
        } else {
            take.inputsMissing();
        }
    }
    syncFolder(takeFolder);
    take.opened();
    return opened;
}
