#include "TrelkCore/Making/LadderRun.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Making/ConstantRate.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/FFFrames.h"
#include "TrelkCore/Making/Output.h"
#include "TrelkCore/Making/SoundFit.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <vector>

namespace {

using Progress = LadderEngine::Progress;
using Cancelled = LadderEngine::Cancelled;

// a − b, on a's clock.
Media::Time minus(Media::Time a, Media::Time b) {
    if (b.value == 0 || b.timescale <= 0) return a;
    const auto shifted = static_cast<int64_t>(static_cast<__int128>(b.value) * a.timescale / b.timescale);
    return {a.value - shifted, a.timescale};
}

std::string describe(const std::string& error) { return error.empty() ? "unknown" : error; }

// The pictures' expected length in sound samples, from the probe; none when it cannot tell.
std::optional<int64_t> expectedSound(const MasterInfo& info) {
    if (!(info.duration > 0) || !std::isfinite(info.duration) || info.duration > 1e7) return std::nullopt;
    return std::llround(info.duration * SoundFit::rate);
}

// What one run has running. Members are destroyed writers first, so the sound pump has
// ended before the reader it reads from goes away.
class Pass {
public:
    Pass(const LadderRun& run, const Progress& progress, const Cancelled& cancelled)
        : run(run), info(run.info), plan(run.plan), progress(progress), cancelled(cancelled),
          rate(FrameRate::fraction(info.fpsText, info.fps)), evenRate(rate.first, rate.second),
          fit(run.start, expectedSound(info)) {}

    void setUp();
    void startWriting();
    void pictures();
    void finish();
    void stop();
    int64_t picturesWritten() const { return written; }

private:
    void openPictures();
    void openSound();
    void makeOutputs();
    bool pumpsSound() { return soundReader && main().audio(); }
    void pump();
    void appendSound(const std::vector<int16_t>& samples);
    std::optional<FFFrames::Frame> nextPicture();
    std::optional<FFFrames::Frame> nextFromReader();
    std::optional<Media::VideoSample> read();
    void place(const FFFrames::Frame& frame);
    void finishWriters();
    void checkCancelled() const;
    Output& main() { return *outputs.front(); }

    const LadderRun& run;
    const MasterInfo& info;
    const LadderPlan& plan;
    const Progress& progress;
    const Cancelled& cancelled;
    std::unique_ptr<Media::Reader> pictureReader;
    std::unique_ptr<FFFrames> frames;
    std::pair<int64_t, int64_t> rate; // the pictures come out at num/den a second
    ConstantRate evenRate; // for the library's pictures, which come at the master's own times
    std::deque<FFFrames::Frame> evened;
    bool pictureEnd = false;
    std::unique_ptr<Media::Reader> soundReader;
    SoundFit fit;
    bool soundEnd = false;
    int64_t soundPlaced = 0;
    std::vector<std::unique_ptr<Output>> outputs;
    int64_t written = 0;
};

void Pass::setUp() {
    openPictures();
    openSound();
    makeOutputs();
    if (soundReader) main().addAudio();
}

void Pass::openPictures() {
    if (const auto* program = std::get_if<LadderRun::ProgramPictures>(&run.pictures)) {
        frames = std::make_unique<FFFrames>(program->ffmpeg, program->master, info);
        return;
    }
    const auto& library = std::get<LadderRun::LibraryPictures>(run.pictures);
    pictureReader = std::make_unique<Media::Reader>(library.master);
    try {
        pictureReader->addVideoOutput(library.track, info.picture.filtersKeepingMatrix());
    } catch (const std::runtime_error&) {
        throw TrelkError("no picture in this file");
    }
    try {
        pictureReader->startReading();
    } catch (const std::runtime_error&) {
        throw DecodeFailure(info.codec);
    }
}

void Pass::openSound() {
    if (!run.sound) return;
    auto reader = std::make_unique<Media::Reader>(run.sound->asset);
    try {
        reader->addAudioOutput(run.sound->track);
        reader->startReading();
    } catch (const std::runtime_error&) {
        return; // sound that cannot be decoded here is left out, not the pictures
    }
    soundReader = std::move(reader);
}

void Pass::makeOutputs() {
    // Strips share the cores between their encoders. A single file has them to itself, and with
    // three frames in flight its encoder keeps both busy while pictures are decoded.
    const Output::Encoder encoder{plan.strips.empty() ? 3 : 1, int32_t(rate.first)};
    outputs.push_back(std::make_unique<Output>(run.dir / plan.file, int(plan.size.w), int(plan.size.h), 0,
                                               plan.master.w > LadderPlan::wideWidth, Output::mainBitsPerPixel, info,
                                               encoder));
    for (const LadderPlan::Strip& strip : plan.strips)
        outputs.push_back(std::make_unique<Output>(run.dir / strip.file, int(plan.stripSize.w), int(plan.stripSize.h),
                                                   int(strip.x), false, Output::stripBitsPerPixel, info, encoder));
}

void Pass::startWriting() {
    for (const auto& output : outputs) {
        try {
            output->writer().startWriting();
        } catch (const std::runtime_error& error) {
            throw TrelkError("couldn't start the encoder: " + describe(error.what()));
        }
        output->writer().startSession({0, 1});
    }
    if (pumpsSound()) main().audio()->requestMediaDataWhenReady([this] { pump(); });
}

// Runs on the audio input's own thread, at the same time as the picture loop.
void Pass::pump() {
    Media::AudioInput& input = *main().audio();
    try {
        while (input.readyForMoreData()) {
            if (cancelled() || fit.full()) return input.markFinished();
            if (soundEnd) {
                const std::vector<int16_t> silence = fit.padding(SoundFit::rate / 4);
                if (silence.empty()) return input.markFinished();
                appendSound(silence);
            } else if (std::optional<Media::AudioSample> sample = soundReader->copyNextAudioSample()) {
                appendSound(fit.take(*sample));
            } else {
                soundEnd = true;
            }
        }
    } catch (...) {
        // Nothing may leave the writer's thread: the file is then made with the sound so far.
        input.markFinished();
    }
}

// The sound follows on from what was placed, from the first picture on.
void Pass::appendSound(const std::vector<int16_t>& samples) {
    if (samples.empty()) return;
    main().audio()->append(samples, {soundPlaced, SoundFit::rate});
    soundPlaced += int64_t(samples.size() / SoundFit::channels);
}

void Pass::checkCancelled() const {
    if (cancelled()) throw CancellationError();
}

void Pass::pictures() {
    checkCancelled();
    const double whole = info.frames < 2 ? 1 : double(info.frames);
    for (;;) {
        // A picture decoded before every encoder has room for it would only wait, in memory.
        for (const auto& output : outputs)
            output->video().waitForRoom();
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

// None at the end; a frame without a picture is one to skip.
std::optional<FFFrames::Frame> Pass::nextPicture() {
    if (!frames) return nextFromReader();
    std::optional<FFFrames::Frame> frame = frames->next();
    if (!frame) frames->finish();
    return frame;
}

// The library's pictures at the constant rate the file is made at.
std::optional<FFFrames::Frame> Pass::nextFromReader() {
    while (evened.empty()) {
        if (pictureEnd) return std::nullopt;
        std::optional<Media::VideoSample> sample = read();
        if (!sample) {
            pictureEnd = true;
            evened = evenRate.finish();
            continue;
        }
        const Media::Time time = minus(sample->presentationTime, run.start);
        if (!sample->picture || time.value < 0) return FFFrames::Frame{};
        evened = evenRate.add(FFFrames::Frame{std::move(sample->picture), time});
    }
    FFFrames::Frame frame = std::move(evened.front());
    evened.pop_front();
    return frame;
}

std::optional<Media::VideoSample> Pass::read() {
    try {
        return pictureReader->copyNextVideoSample();
    } catch (const std::runtime_error& error) {
        if (written == 0) throw DecodeFailure(info.codec);
        throw TrelkError("couldn't read the master: " + describe(error.what()));
    }
}

void Pass::place(const FFFrames::Frame& frame) {
    for (const auto& output : outputs) {
        try {
            output->video().append(output->frame(frame.picture), frame.time);
        } catch (const std::runtime_error& error) {
            throw TrelkError("the encoder stopped: " + describe(error.what()));
        }
    }
}

void Pass::finish() {
    if (written == 0) throw TrelkError("no frames in the master");
    fit.setLength(int64_t(__int128(written) * rate.second * SoundFit::rate / rate.first));
    for (const auto& output : outputs)
        output->video().markFinished();
    if (pumpsSound()) main().audio()->waitUntilFinished();
    // A cancel the sound pump saw after the last picture would leave a file with its sound cut short.
    checkCancelled();
    finishWriters();
}

// The files finish side by side; the first that fails is reported.
void Pass::finishWriters() {
    for (const auto& output : outputs)
        output->writer().finishWriting();
    for (const auto& output : outputs) {
        Media::Writer& writer = output->writer();
        try {
            writer.waitUntilFinished();
        } catch (const std::runtime_error& error) {
            throw TrelkError("couldn't finish " + writer.url().filename().string() + ": " + describe(error.what()));
        }
    }
}

void Pass::stop() {
    if (frames) frames->terminate();
    if (pictureReader) pictureReader->cancelReading();
    if (soundReader) soundReader->cancelReading();
    for (const auto& output : outputs)
        output->writer().cancelWriting();
}

} // namespace

int64_t LadderRun::run(const Progress& progress, const Cancelled& cancelled) const {
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
    return pass.picturesWritten();
}
