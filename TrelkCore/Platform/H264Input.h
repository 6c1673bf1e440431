#pragma once
#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/MediaWriter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Media {

class MP4Writer;

// The H.264 input of an MP4Writer: pictures queued by the caller, encoded on a thread of its own.
class H264Input final : public VideoInput {
public:
    H264Input(MP4Writer& owner, AV::Codec codec, AVStream* stream);
    ~H264Input() override;

    PicturePool& pool() override { return pictures; }
    bool readyForMoreData() const override;
    void waitForRoom() const override;
    void append(std::shared_ptr<Picture> picture, Time time) override;
    void markFinished() override;

    void start();
    void wake();
    void join();
    // Seconds of pictures appended; infinite once finished. Sound may run a little ahead of it.
    double horizon() const { return appendedUntil.load(); }
    bool wroteNothing() const { return !lastPts; }

private:
    struct Queued {
        std::shared_ptr<Picture> picture;
        int64_t pts;
    };
    void encodeAll();
    std::optional<Queued> nextPicture();
    AV::Frame frameOf(Queued queued) const;

    MP4Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    PicturePool pictures;
    mutable std::mutex lock; // guards queue, lastPts, finished
    mutable std::condition_variable moved;
    std::deque<Queued> queue;
    std::optional<int64_t> lastPts;
    bool finished = false;
    std::atomic<double> appendedUntil = 0;
    std::thread encoder;
};

} // namespace Media
