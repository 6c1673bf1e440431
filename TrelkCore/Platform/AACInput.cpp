#include "TrelkCore/Platform/AACInput.h"

#include "TrelkCore/Platform/MP4Writer.h"

#include <algorithm>
#include <stdexcept>

namespace Media {

AACInput::AACInput(MP4Writer& owner, AV::Codec codec, AVStream* stream, AV::Frame chunk)
    : owner(owner), codec(std::move(codec)), stream(stream), chunk(std::move(chunk)) {}

AACInput::~AACInput() { join(); }

bool AACInput::readyForMoreData() const {
    std::lock_guard guard(lock);
    if (finished || !owner.writing()) return false;
    const double written = double(nextPts.value_or(0) + filled) / rate;
    return written <= owner.soundLimit();
}

void AACInput::append(std::span<const int16_t> samples, Time time) {
    std::lock_guard guard(lock);
    if (finished || !owner.writing()) owner.refuse();
    if (samples.size() % channels != 0) throw std::runtime_error("sound of half a sample");
    if (!nextPts) {
        const std::optional<int64_t> start = owner.streamTime(time, stream);
        if (!start) throw std::runtime_error("a sound's time is invalid");
        const int64_t frames = int64_t(samples.size() / channels);
        samples = samples.subspan(size_t(std::clamp<int64_t>(-*start, 0, frames)) * channels);
        if (samples.empty()) return; // all of it before the session start
        nextPts = std::max<int64_t>(0, *start);
    }
    take(samples);
    if (!owner.writing()) owner.refuse();
}

// Converts to the encoder's planar floats, a chunk of its frame size at a time.
void AACInput::take(std::span<const int16_t> samples) {
    for (size_t at = 0; at < samples.size() && owner.writing(); at += channels) {
        if (filled == 0 && av_frame_make_writable(chunk.get()) < 0) return owner.fail("out of memory for the sound");
        for (int channel = 0; channel < channels; ++channel)
            reinterpret_cast<float*>(chunk->data[channel])[filled] = float(samples[at + channel]) / 32768.0f;
        if (++filled == codec->frame_size) encodeChunk();
    }
}

void AACInput::encodeChunk() {
    chunk->nb_samples = filled;
    chunk->pts = *nextPts;
    owner.encode(codec.get(), stream, chunk.get());
    *nextPts += filled;
    filled = 0;
}

void AACInput::markFinished() {
    {
        std::lock_guard guard(lock);
        finished = true;
    }
    owner.progressed();
}

void AACInput::requestMediaDataWhenReady(std::function<void()> pump) {
    join();
    pumping = std::thread([this, pump = std::move(pump)] {
        for (;;) {
            owner.waitForProgress([this] { return readyForMoreData() || finishedOrStopped(); });
            if (finishedOrStopped()) return;
            pump();
        }
    });
}

void AACInput::waitUntilFinished() const {
    owner.waitForProgress([this] { return finishedOrStopped(); });
}

bool AACInput::finishedOrStopped() const {
    std::lock_guard guard(lock);
    return finished || !owner.writing();
}

// The last short chunk, then what the encoder holds.
void AACInput::drain() {
    std::lock_guard guard(lock);
    if (!owner.writing() || !nextPts) return;
    if (filled > 0) encodeChunk();
    owner.encode(codec.get(), stream, nullptr);
}

void AACInput::join() { joinUnlessSelf(pumping); }

} // namespace Media
