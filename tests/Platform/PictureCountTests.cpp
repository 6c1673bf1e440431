#include "TrelkCore/Platform/PictureCount.h"

#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Ten H.264 pictures of 64 × 36 at 25 per second, with what `more` adds.
fs::path makeVideo(const fs::path& out, std::vector<std::string> more) {
    const std::optional<fs::path> ffmpeg = FFDecode::path();
    if (!ffmpeg) throw std::runtime_error("no ffmpeg beside the test program");
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-f", "lavfi", "-i", "testsrc2=s=64x36:r=25:d=0.4"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.insert(arguments.end(), {"-c:v", "libx264", "-y", out.string()});
    runProgram(ffmpeg->string(), arguments);
    return out;
}

TEST(PictureCount, CountsOnlyThePicturesWhoseBytesAreAllThere) {
    TempFolder temp;
    // The index first, every picture a key frame, so that every cut leaves a readable file.
    const fs::path file = makeVideo(temp / "clip.mp4", {"-g", "1", "-movflags", "+faststart"});
    const Media::PictureCount whole = Media::PictureCount::of(file);
    EXPECT_EQ(whole.width, 64);
    EXPECT_EQ(whole.height, 36);
    EXPECT_EQ(whole.pictures, 10);

    for (uintmax_t cut : {uintmax_t(1), fs::file_size(file) / 3}) {
        fs::resize_file(file, fs::file_size(file) - cut);
        try {
            EXPECT_LT(Media::PictureCount::of(file).pictures, 10) << "cut by " << cut;
        } catch (const std::runtime_error&) {
            // as good: a file that cannot be read to its end is not whole either
        }
    }
    writeFile(file, "not a video");
    EXPECT_THROW(Media::PictureCount::of(file), std::runtime_error);
}

TEST(PictureCount, StatesThePicturesOwnLengthNotTheLongerSounds) {
    TempFolder temp;
    for (const char* name : {"clip.mkv", "clip.mp4"}) {
        const fs::path file = makeVideo(temp / name, {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac"});
        const std::optional<double> seconds = Media::statedPictureSeconds(file);
        ASSERT_TRUE(seconds) << name;
        EXPECT_NEAR(*seconds, 0.4, 0.02) << name;
    }
    EXPECT_FALSE(Media::statedPictureSeconds(temp / "missing.mkv"));
}

} // namespace
