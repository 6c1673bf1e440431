#pragma once
#include "TrelkCore/Platform/AACInput.h"
#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/H264Input.h"
#include "TrelkCore/Platform/MediaWriter.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Media {

// An input's thread may end the writing itself, and must not join its own thread then.
inline void joinUnlessSelf(std::thread& thread) {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

// The Writer that Writer::create makes: one MP4 file, its inputs writing packets from their own threads.
class MP4Writer final : public Writer {
public:
    MP4Writer(std::filesystem::path url, AV::Muxer muxer);
    ~MP4Writer() override;

    VideoInput& addVideo(const VideoSettings& settings) override;
    AudioInput& addAudio() override;
    void startWriting() override;
    void startSession(Time sourceTime) override;
    void finishWriting() override;
    void waitUntilFinished() override;
    void cancelWriting() override;
    WriterStatus status() const override;
    const std::filesystem::path& url() const override { return path; }

    bool writing() const { return status() == WriterStatus::writing; }
    // Throws why the writing is not going on: its failure, or its end.
    [[noreturn]] void refuse() const;
    void fail(const std::string& text);
    std::optional<int64_t> streamTime(Time time, const AVStream* stream) const;
    double soundLimit() const;
    bool encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
    // Wakes whoever waits for the pictures to advance or the writing to end.
    void progressed();
    // Waits until ready() holds or the writing is no longer going on.
    template <typename Ready> void waitForProgress(Ready ready) const;

private:
    void end(WriterStatus ending);
    void complete();
    void joinInputs();
    void closeFile();

    const std::filesystem::path path;
    mutable std::mutex muxing; // guards muxer: the inputs write packets from their own threads
    AV::Muxer muxer;
    mutable std::mutex state; // guards current, errorText, sessionStart
    WriterStatus current = WriterStatus::unknown;
    std::string errorText;
    Time sessionStart;
    std::mutex joining; // lets cancel and the finishing thread join the inputs one at a time
    std::vector<std::unique_ptr<H264Input>> videos;
    std::unique_ptr<AACInput> audio;
    std::thread finisher;
    std::atomic<uint64_t> progressCount = 0;
    mutable std::mutex progressLock; // orders the waits for progress with its wake-ups
    mutable std::condition_variable progress;
};

// ready() takes the inputs' own locks, so it is asked outside progressLock: the count tells
// whether anything moved since.
template <typename Ready>
void MP4Writer::waitForProgress(Ready ready) const {
    for (;;) {
        const uint64_t seen = progressCount;
        if (ready() || !writing()) return;
        std::unique_lock guard(progressLock);
        progress.wait(guard, [&] { return progressCount != seen; });
    }
}

} // namespace Media
