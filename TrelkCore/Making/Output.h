#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Platform/Media.h"
#include "TrelkCore/Platform/MediaWriter.h"

#include <cstdint>
#include <filesystem>
#include <memory>

// One MP4 file of a ladder being written: the whole master resampled, or the part of it from
// column x on copied 1:1.
class Output {
public:
    static constexpr double mainBitsPerPixel = 0.18;
    static constexpr double stripBitsPerPixel = 0.3;

    struct Encoder {
        int threads = 0;       // the encoder's own threads; 0 lets it choose
        int32_t timescale = 1; // of the picture times that will be appended
    };

    // Throws the writer's error when the file cannot be created, TrelkError with the encoder's
    // reason when it refuses the size.
    Output(const std::filesystem::path& url, int w, int h, int x, bool scale, double bitsPerPixel,
           const MasterInfo& info, Encoder encoder);

    static int keyFrameInterval(double fps);
    static int64_t averageBitRate(double fps, int w, int h, double bitsPerPixel);

    // The AAC input; the file is made without sound when the writer refuses it.
    void addAudio();
    // The source placed into a fresh picture of this file's pool, or the source itself when the
    // file is the master as it is. Throws TrelkError.
    std::shared_ptr<Media::Picture> frame(const std::shared_ptr<Media::Picture>& source);

    Media::Writer& writer() { return *file; }
    Media::VideoInput& video() { return *pictures; }
    // None when the file is made without sound.
    Media::AudioInput* audio() { return sound; }

private:
    std::unique_ptr<Media::Writer> file;
    Media::VideoInput* pictures = nullptr;
    Media::AudioInput* sound = nullptr;
    int width;
    int height;
    int x;
    bool scale;
};
