#pragma once
#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/MediaWriter.h"

#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

namespace Media {

class MP4Writer;

// The AAC input of an MP4Writer: sound encoded on the caller's thread, or on its pump's.
class AACInput final : public AudioInput {
public:
    AACInput(MP4Writer& owner, AV::Codec codec, AVStream* stream, AV::Frame chunk);
    ~AACInput() override;

    bool readyForMoreData() const override;
    void append(std::span<const int16_t> samples, Time time) override;
    void markFinished() override;
    void requestMediaDataWhenReady(std::function<void()> pump) override;
    void waitUntilFinished() const override;

    void drain();
    void join();

private:
    void take(std::span<const int16_t> samples);
    void encodeChunk();
    bool finishedOrStopped() const;

    MP4Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    mutable std::mutex lock; // guards chunk, filled, nextPts, finished, and the encoder
    AV::Frame chunk;
    int filled = 0;
    std::optional<int64_t> nextPts;
    bool finished = false;
    std::thread pumping;
};

} // namespace Media
