#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Platform/ErrorText.h"
#include "TrelkCore/Platform/Media.h"
#include "TrelkCore/Platform/Process.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Raw pictures from one running ffmpeg decoder.
class FFFrames {
public:
    struct Frame {
        std::shared_ptr<Media::Picture> picture;
        Media::Time time;
    };

    // Starts the decoder for pictures of the master's shown size at its nominal rate; throws
    // TrelkError when it will not start.
    FFFrames(const std::filesystem::path& ffmpeg, const std::filesystem::path& master, const MasterInfo& info);
    // Stops a decoder that still runs and waits for it and its error reader.
    ~FFFrames();
    FFFrames(const FFFrames&) = delete;
    FFFrames& operator=(const FFFrames&) = delete;

    // The next picture, or none at the end. Throws TrelkError.
    std::optional<Frame> next();
    // Waits for the decoder; throws TrelkError when it exited with a failure.
    void finish();
    // Stops the decoder early.
    void terminate() { process.terminate(); }
    // The last line of the decoder's error output.
    std::string why() const;
    // The clock of the pictures' times: one tick per frame duration's denominator.
    int32_t timescale() const { return int32_t(std::min<int64_t>(num, INT32_MAX)); }

    const int64_t w;
    const int64_t h;

private:
    Process process;
    ErrorText errors;
    int64_t num;
    int64_t den;
    int64_t count = 0;
    Media::PicturePool pool;
    std::vector<uint8_t> buffer;
};
