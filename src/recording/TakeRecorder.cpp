#include "recording/TakeRecorder.h"

#include <algorithm>

#include "recording/RecordBlock.h"

namespace {

// Seconds of recorded audio the block ring holds while the disk is slow.
constexpr std::size_t kBufferSeconds = 5;
// A set rolls over this long (of its fastest file) before a file would
// outgrow its header's sizes.
constexpr double kRollHeadroomSeconds = 10.0;

// A copy of its own for the file thread. Qt's implicit sharing counts
// references atomically, but the race detector cannot see the uninstrumented
// half of it: nothing a job holds is shared with the main thread's strings.
QString own(const QString& text) {
    return QString(text.constData(), text.size());
}

std::vector<TakeInput> own(std::vector<TakeInput> inputs) {
    for (TakeInput& in : inputs) in.name = own(in.name);
    return inputs;
}

}  // namespace

TakeRecorder::TakeRecorder(const Clock& c, ToMain main, FileThread::FailureHandler onFailure)
    : clock(c),
      toMain(std::move(main)),
      files(queue,
            [this, onFailure = std::move(onFailure)](std::vector<FileFailure> failures,
                                                     bool exhausted, std::uint64_t set) {
                sets.count(failures.size());  // the take counts them as they come
                if (onFailure) onFailure(std::move(failures), exhausted, set);
            }),
      sets(files.files(), c),
      takeStart(c.instant()),
      setStart(takeStart) {}

TakeRecorder::~TakeRecorder() {
    // A take still open ends exact; the thread ends before the sets it uses.
    if (phase != Phase::idle) stop(QString(), Status{});
    files.stop();
}

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

void TakeRecorder::start(TakeSets::Request request,
                         std::function<void(const TakeSets::Opened&)> done) {
    phase = Phase::starting;
    const std::uint64_t take = ++takes;
    request.root = own(request.root);
    if (request.dayFolder) request.dayFolder = own(*request.dayFolder);
    request.inputs = own(std::move(request.inputs));
    files.post([this, take, request = std::move(request), done = std::move(done)] {
        TakeSets::Opened opened = sets.open(request);
        toMain([this, take, opened = std::move(opened), done] {
            if (take != takes) return;  // stopped meanwhile: its close follows the open
            phase = opened.folder.isEmpty() ? Phase::idle : Phase::recording;
            if (recording()) {
                takeFolder = opened.folder;
                takeStart = setStart = clock.instant();
                openSet = opened.set;
                rolling = false;
            }
            if (done) done(opened);
        });
    });
}

void TakeRecorder::stop(const QString& root, const Status& saying, Done done) {
    phase = Phase::idle;
    ++takes;
    files.post([this, root = own(root), saying = Status{own(saying.text), saying.failure},
                done = std::move(done)] {
        Status saved = sets.close(root, saying);
        if (done) toMain([done, saved = std::move(saved)] { done(saved); });
    });
}

void TakeRecorder::roll(const std::vector<TakeInput>& inputs, int rate, Done done) {
    const Clock::Instant now = clock.instant();
    setStart = now;
    rolling = true;
    const std::uint64_t take = takes;
    files.post([this, take, inputs = own(inputs), rate, now, done = std::move(done)] {
        // One job on the file thread: each block goes wholly to one set.
        TakeSets::Rolled rolled = sets.roll(inputs, rate, now);
        toMain([this, take, rolled = std::move(rolled), done] {
            if (take != takes) return;
            rolling = false;
            openSet = rolled.set;
            if (rolled.ended) phase = Phase::idle;
            if (done) done(rolled.status);
        });
    });
}

bool TakeRecorder::rollDue(int rate) const {
    if (rolling) return false;
    // The mix is the fastest-growing file: two channels.
    const double headroom = kRollHeadroomSeconds * 2 * WAVWriter::bytesPerSample * rate;
    return secondsBetween(setStart.steady, clock.ticks()) >= rollover ||
           static_cast<double>(files.largestFile()) + headroom >= static_cast<double>(maxFileBytes);
}

Status TakeRecorder::filesFailed(const std::vector<FileFailure>& failures, bool exhausted,
                                 std::uint64_t set) {
    // The take has ended: its close counts these, and says so.
    if (!recording()) return {};
    // While a roll is under way, it says whether the take goes on.
    if (exhausted && recording() && !rolling && set == openSet) {
        stop(QString(), Status{});
        return TakeSets::stoppedAfter(failures, takeFolder);
    }
    return TakeSets::failureStatus(failures);
}

bool TakeRecorder::answering() {
    // Real time: the disk takes what it takes, whatever clock the take runs on.
    const Clock::SteadyTime now = Clock::system().ticks();
    const std::uint64_t work = files.workBegun();
    if (!files.working() || work != workSeen) {
        workSeen = work;
        workSeenSince = now;
        return true;
    }
    return now - workSeenSince < answerWithin_;
}
