#include "TrelkCore/Making/LadderRun.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/FFFrames.h"
#include "TrelkCore/Making/Output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Progress = LadderEngine::Progress;
using Cancelled = LadderEngine::Cancelled;

constexpr auto encoderPoll = std::chrono::milliseconds(2);
// a − b, on a's clock.
Media::Time minus(Media::Time a, Media::Time b) {
    if (b.value == 0 || b.timescale <= 0) return a;
    const auto shifted = static_cast<int64_t>(static_cast<__int128>(b.value) * a.timescale / b.timescale);
    return {a.value - shifted, a.timescale};
}

std::string describe(const std::string& error) { return error.empty() ? "unknown" : error; }

// The end of the sound pump, reported once however often the writer calls the pump after it.
class Once {
public:
    void enter() {
        std::lock_guard guard(lock);
        entered = true;
    }
    void leave() {
        std::lock_guard guard(lock);
        if (done) return;
        done = true;
        changed.notify_all();
    }
    // Waits for the end unless nothing entered; gives up once abandoned() says the pump will
    // not be called again.
    template <typename Abandoned> void wait(Abandoned abandoned) {
        std::unique_lock guard(lock);
        while (entered && !done && !abandoned())
            changed.wait_for(guard, encoderPoll);
    }

private:
    std::mutex lock; // guards entered, done
    std::condition_variable changed;
    bool entered = false;
    bool done = false;
};

// What one run has running. Members are destroyed writers first, so the sound pump has
// ended before the reader it reads from goes away.
class Pass {
public:
    Pass(const LadderRun& run, const Progress& progress, const Cancelled& cancelled)
        : run(run), info(run.info), plan(run.plan), progress(progress), cancelled(cancelled) {}

    void setUp();
    void startWriting();
    void pictures();
    void finish();
    void stop();

private:
    void openReader();
    void openPictures();
    void makeOutputs();
    void startReading();
    void pump();
    void endSound(Media::AudioInput& input);
    void waitForEncoders();
    std::optional<FFFrames::Frame> nextPicture();
    std::optional<FFFrames::Frame> nextFromReader();
    void place(const FFFrames::Frame& frame);
    void finishWriters();
    void checkCancelled() const;
    Output& main() { return *outputs.front(); }

    const LadderRun& run;
    const MasterInfo& info;
    const LadderPlan& plan;
    const Progress& progress;
    const Cancelled& cancelled;
    std::unique_ptr<Media::Reader> reader;
    bool readsPictures = false;
    bool readsSound = false;
    std::unique_ptr<FFFrames> frames;
    Once soundEnd;
    std::vector<std::unique_ptr<Output>> outputs;
    int64_t written = 0;
};

void Pass::setUp() {
    openReader();
    openPictures();
    readsSound = run.at && reader && reader->addAudioOutput(*run.at);
    makeOutputs();
    if (readsSound) main().addAudio();
    startReading();
}

void Pass::openReader() {
    if (run.asset && ((!run.ffmpeg && run.vt) || run.at)) reader = std::make_unique<Media::Reader>(run.asset);
}

void Pass::openPictures() {
    if (run.ffmpeg) {
        if (!run.master) throw TrelkError("no picture in this file");
        frames = std::make_unique<FFFrames>(*run.ffmpeg, *run.master, info.w, info.h, info.fpsText, info.fps);
        return;
    }
    if (!run.vt || !reader || !reader->addVideoOutput(*run.vt)) throw TrelkError("no picture in this file");
    readsPictures = true;
}

void Pass::makeOutputs() {
    // Strips share the cores between their encoders. A single file has them to itself, and with
    // three frames in flight its encoder keeps both busy while pictures are decoded.
    const Output::Encoder encoder{plan.strips.empty() ? 3 : 1,
                                  frames ? frames->timescale() : run.vt->timeRange.start.timescale};
    outputs.push_back(std::make_unique<Output>(run.dir / plan.file, int(plan.size.w), int(plan.size.h), 0,
                                               plan.master.w > LadderPlan::wideWidth, Output::mainBitsPerPixel, info,
                                               encoder));
    for (const LadderPlan::Strip& strip : plan.strips)
        outputs.push_back(std::make_unique<Output>(run.dir / strip.file, int(plan.stripSize.w), int(plan.stripSize.h),
                                                   int(strip.x), false, Output::stripBitsPerPixel, info, encoder));
}

void Pass::startReading() {
    if (!readsPictures && !readsSound) return;
    if (reader->startReading()) return;
    if (frames) frames->terminate();
    throw TrelkError(Decode::failure(info.codec));
}

void Pass::startWriting() {
    for (const auto& output : outputs) {
        if (!output->writer().startWriting())
            throw TrelkError("couldn't start the encoder: " + describe(output->writer().error()));
        output->writer().startSession({0, 1});
    }
    if (!readsSound || !main().audio()) return;
    soundEnd.enter();
    main().audio()->requestMediaDataWhenReady([this] { pump(); });
}

// Runs on the audio input's own thread, at the same time as the picture loop.
void Pass::pump() {
    Media::AudioInput& input = *main().audio();
    try {
        while (input.readyForMoreData()) {
            if (cancelled()) return endSound(input);
            std::optional<Media::AudioSample> sample = reader->copyNextAudioSample();
            if (!sample) return endSound(input);
            if (std::optional<Media::AudioSample> shifted = LadderRun::shift(std::move(*sample), run.start))
                input.append(shifted->samples, shifted->presentationTime);
        }
    } catch (...) {
        // Nothing may leave the writer's thread: the file is then made with the sound so far.
        endSound(input);
    }
}

void Pass::endSound(Media::AudioInput& input) {
    input.markFinished();
    soundEnd.leave();
}

void Pass::checkCancelled() const {
    if (cancelled()) throw CancellationError();
}

void Pass::pictures() {
    checkCancelled();
    const double whole = info.frames < 2 ? 1 : double(info.frames);
    for (;;) {
        waitForEncoders();
        const std::optional<FFFrames::Frame> frame = nextPicture();
        if (!frame) return;
        if (frame->picture) {
            place(*frame);
            ++written;
            progress(std::min(double(written) / whole, 0.99));
        }
        checkCancelled();
    }
}

void Pass::waitForEncoders() {
    while (!std::ranges::all_of(outputs, [](const auto& output) { return output->video().readyForMoreData(); })) {
        for (const auto& output : outputs)
            if (output->writer().status() != Media::WriterStatus::writing)
                throw TrelkError("the encoder stopped: " + describe(output->writer().error()));
        checkCancelled();
        std::this_thread::sleep_for(encoderPoll);
    }
}

// None at the end; a frame without a picture is one to skip.
std::optional<FFFrames::Frame> Pass::nextPicture() {
    if (!frames) return nextFromReader();
    std::optional<FFFrames::Frame> frame = frames->next();
    if (!frame) frames->finish();
    return frame;
}

std::optional<FFFrames::Frame> Pass::nextFromReader() {
    std::optional<Media::VideoSample> sample = reader->copyNextVideoSample();
    if (!sample) {
        if (reader->status() != Media::Reader::Status::failed) return std::nullopt;
        // The codec's message lets make try again through FFmpeg.
        if (written == 0) throw TrelkError(Decode::failure(info.codec));
        throw TrelkError("couldn't read the master: " + describe(reader->error()));
    }
    const Media::Time time = minus(sample->presentationTime, run.start);
    if (!sample->picture || time.value < 0) return FFFrames::Frame{};
    return FFFrames::Frame{std::move(sample->picture), time};
}

void Pass::place(const FFFrames::Frame& frame) {
    for (const auto& output : outputs)
        if (!output->video().append(output->frame(frame.picture), frame.time))
            throw TrelkError("the encoder stopped: " + describe(output->writer().error()));
}

void Pass::finish() {
    if (written == 0) throw TrelkError("no frames in the master");
    for (const auto& output : outputs)
        output->video().markFinished();
    soundEnd.wait([this] { return main().writer().status() != Media::WriterStatus::writing; });
    // A cancel the sound pump saw after the last picture would leave a file with its sound cut short.
    checkCancelled();
    finishWriters();
    for (const auto& output : outputs) {
        Media::Writer& writer = output->writer();
        if (writer.status() != Media::WriterStatus::completed)
            throw TrelkError("couldn't finish " + writer.url().filename().string() + ": " + describe(writer.error()));
    }
}

void Pass::finishWriters() {
    std::latch finished(std::ptrdiff_t(outputs.size()));
    for (const auto& output : outputs)
        output->writer().finishWriting([&finished] { finished.count_down(); });
    finished.wait();
}

void Pass::stop() {
    if (frames) frames->terminate();
    if (readsPictures || readsSound) reader->cancelReading();
    for (const auto& output : outputs)
        output->writer().cancelWriting();
}

} // namespace

void LadderRun::run(const Progress& progress, const Cancelled& cancelled) const {
    Pass pass(*this, progress, cancelled);
    pass.setUp();
    try {
        pass.startWriting();
        pass.pictures();
        pass.finish();
    } catch (...) {
        pass.stop();
        throw;
    }
}

std::optional<Media::AudioSample> LadderRun::shift(Media::AudioSample sample, Media::Time offset) {
    if (offset.value == 0) return sample;
    sample.presentationTime = minus(sample.presentationTime, offset);
    if (sample.presentationTime.value < 0) return std::nullopt;
    return sample;
}
