#include "TrelkCore/Platform/MediaWriter.h"

#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Thrown.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int width = 64;
constexpr int height = 36;
// A saturated red in video range.
constexpr uint8_t lumaValue = 63, cbValue = 102, crValue = 240;

std::string program(std::optional<fs::path> found) {
    if (!found) throw std::runtime_error("no ffmpeg or ffprobe beside the test program");
    return found->string();
}

json probe(const fs::path& file, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-v", "error", "-of", "json"});
    arguments.push_back(file.string());
    return json::parse(runProgram(program(FFDecode::probePath()), arguments));
}

Media::VideoSettings tinySettings() {
    Media::VideoSettings settings;
    settings.width = width;
    settings.height = height;
    settings.averageBitRate = 2'000'000;
    settings.keyFrameInterval = 5;
    settings.expectedFrameRate = 10;
    settings.threads = 1;
    return settings;
}

void paintSolid(Media::Picture& picture) {
    for (int row = 0; row < picture.height(); ++row)
        std::memset(picture.luma() + row * picture.lumaBytesPerRow(), lumaValue, size_t(picture.width()));
    for (int row = 0; row < (picture.height() + 1) / 2; ++row)
        for (int column = 0; column < picture.width(); column += 2) {
            picture.chroma()[row * picture.chromaBytesPerRow() + column] = cbValue;
            picture.chroma()[row * picture.chromaBytesPerRow() + column + 1] = crValue;
        }
}

void paintNoise(Media::Picture& picture, std::mt19937& random) {
    const size_t bytes = picture.lumaBytesPerRow() * size_t(picture.height() + picture.height() / 2);
    for (size_t at = 0; at < bytes; ++at)
        picture.luma()[at] = uint8_t(16 + random() % 220);
}

// 16-bit stereo sine at 440 Hz.
std::vector<int16_t> sine(size_t frames) {
    std::vector<int16_t> samples;
    for (size_t i = 0; i < frames; ++i) {
        const auto value = int16_t(std::lround(8000 * std::sin(2 * M_PI * 440 * double(i) / 48000)));
        samples.insert(samples.end(), {value, value});
    }
    return samples;
}

// Finishes the file; the reason when it was not completed.
std::string finish(Media::Writer& writer) {
    writer.finishWriting();
    return thrownText<std::runtime_error>([&] { writer.waitUntilFinished(); });
}

// Pictures at times count/10 s from the pool of the input, appended when it is ready.
void appendPictures(Media::VideoInput& video, int count, int64_t firstTime = 0) {
    for (int i = 0; i < count; ++i) {
        while (!video.readyForMoreData())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::shared_ptr<Media::Picture> picture = video.pool().take();
        paintSolid(*picture);
        video.append(std::move(picture), {firstTime + i, 10});
    }
}

// A writer of file with one picture input, writing.
struct Started {
    std::unique_ptr<Media::Writer> writer;
    Media::VideoInput* video;
};

Started startWriter(const fs::path& file, const Media::VideoSettings& settings = tinySettings()) {
    Started started{Media::Writer::create(file), nullptr};
    started.video = &started.writer->addVideo(settings);
    started.writer->startWriting();
    return started;
}

struct Clip {
    int pictures = 10;
    double seconds = 0; // of sound; none when 0
    Media::Time sessionStart = {0, 1};
};

fs::path writeClip(const TempFolder& temp, const Clip& clip) {
    const fs::path file = temp / "clip.mp4";
    std::unique_ptr<Media::Writer> writer = Media::Writer::create(file);
    Media::VideoInput* video = &writer->addVideo(tinySettings());
    Media::AudioInput* audio = clip.seconds > 0 ? &writer->addAudio() : nullptr;
    writer->startWriting();
    writer->startSession(clip.sessionStart);
    const int64_t firstTime = clip.sessionStart.value * 10 / clip.sessionStart.timescale;
    if (audio) {
        // Pieces of an odd length, to be cut to the encoder's frame size.
        const std::vector<int16_t> sound = sine(size_t(clip.seconds * 48000));
        std::atomic<size_t> at = 0;
        audio->requestMediaDataWhenReady([&, audio] {
            while (audio->readyForMoreData()) {
                if (at >= sound.size()) return audio->markFinished();
                const size_t piece = std::min<size_t>(2 * 700, sound.size() - at);
                const int64_t start = int64_t(at) / 2 + clip.sessionStart.value * 48000 / clip.sessionStart.timescale;
                audio->append(std::span(sound).subspan(at, piece), {start, 48000});
                at += piece;
            }
        });
        appendPictures(*video, clip.pictures, firstTime);
        video->markFinished();
        while (at < sound.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
        appendPictures(*video, clip.pictures, firstTime);
    }
    EXPECT_EQ(finish(*writer), "");
    EXPECT_EQ(writer->status(), Media::WriterStatus::completed);
    return file;
}

// The types of the first top-level boxes of an MP4 file.
std::vector<std::string> topBoxes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> types;
    unsigned char header[8];
    while (types.size() < 4 && in.read(reinterpret_cast<char*>(header), 8)) {
        const uint32_t size =
            uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
        types.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        if (size < 8) break;
        in.seekg(size - 8, std::ios::cur);
    }
    return types;
}

size_t threadsOfThisProcess() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

TEST(Writer, WritesH264HighWithoutBFramesTaggedAsAskedWithTheIndexFirst) {
    TempFolder temp;
    const fs::path file = writeClip(temp, {.pictures = 12});

    const json stream = probe(file, {"-count_frames", "-show_entries",
                                     "stream=codec_name,profile,has_b_frames,color_range,color_space,color_transfer,"
                                     "color_primaries,nb_read_frames,width,height"})["streams"];
    ASSERT_EQ(stream.size(), 1u) << "a picture stream and no sound";
    EXPECT_EQ(stream[0]["codec_name"], "h264");
    EXPECT_EQ(stream[0]["profile"], "High");
    EXPECT_EQ(stream[0]["has_b_frames"], 0);
    EXPECT_EQ(stream[0]["width"], width);
    EXPECT_EQ(stream[0]["height"], height);
    EXPECT_EQ(stream[0]["nb_read_frames"], "12");
    EXPECT_EQ(stream[0]["color_range"], "tv");
    EXPECT_EQ(stream[0]["color_primaries"], "bt709");
    EXPECT_EQ(stream[0]["color_transfer"], "bt709");
    EXPECT_EQ(stream[0]["color_space"], "bt709");

    const std::vector<std::string> boxes = topBoxes(file);
    const auto moov = std::ranges::find(boxes, "moov"), mdat = std::ranges::find(boxes, "mdat");
    ASSERT_NE(moov, boxes.end());
    EXPECT_LT(moov, mdat);
}

TEST(Writer, KeepsTheTimesAndPutsKeyFramesEveryKPictures) {
    TempFolder temp;
    // The session starts at 0.5 s of the source: that picture is the file's time zero.
    const fs::path file = writeClip(temp, {.pictures = 12, .sessionStart = {15, 30}});

    const json frames = probe(file, {"-show_entries", "frame=pts_time,key_frame,pict_type"})["frames"];
    ASSERT_EQ(frames.size(), 12u);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(std::stod(frames[i]["pts_time"].get<std::string>()), double(i) / 10, 1e-3);
        EXPECT_EQ(frames[i]["key_frame"], i % 5 == 0 ? 1 : 0);
        EXPECT_NE(frames[i]["pict_type"], "B");
    }
}

TEST(Writer, KeyFramesComeAtLeastOnceASecond) {
    TempFolder temp;
    const fs::path file = temp / "slow.mp4";
    Media::VideoSettings settings = tinySettings();
    settings.keyFrameInterval = 30;
    settings.expectedFrameRate = 4;
    auto [writer, video] = startWriter(file, settings);
    appendPictures(*video, 9);
    finish(*writer);

    const json frames = probe(file, {"-skip_frame", "nokey", "-show_entries", "frame=pts_time"})["frames"];
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1]["pts_time"], "0.400000");
}

TEST(Writer, PicturesDecodeToTheColourWritten) {
    TempFolder temp;
    const fs::path file = writeClip(temp, {.pictures = 3});
    const std::string pixels = runProgram(
        program(FFDecode::path()), {"-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt", "nv12", "-"});
    const size_t pictureBytes = size_t(width * height * 3 / 2);
    ASSERT_EQ(pixels.size(), 3 * pictureBytes);
    for (size_t at = 0; at < pixels.size(); ++at) {
        const size_t inPicture = at % pictureBytes;
        const int expected = inPicture < size_t(width * height) ? lumaValue : inPicture % 2 == 0 ? cbValue : crValue;
        ASSERT_NEAR(uint8_t(pixels[at]), expected, 3) << "byte " << at;
    }
}

TEST(Writer, CarriesAACStereoAt48kHzBesideThePictures) {
    TempFolder temp;
    const fs::path file = writeClip(temp, {.pictures = 4, .seconds = 0.3});
    const json streams = probe(
        file, {"-select_streams", "a", "-show_entries", "stream=codec_name,sample_rate,channels,duration"})["streams"];
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["codec_name"], "aac");
    EXPECT_EQ(streams[0]["sample_rate"], "48000");
    EXPECT_EQ(streams[0]["channels"], 2);
    EXPECT_NEAR(std::stod(streams[0]["duration"].get<std::string>()), 0.3, 0.03);
}

TEST(Writer, DropsSoundBeforeTheSessionStart) {
    TempFolder temp;
    const fs::path file = temp / "late.mp4";
    std::unique_ptr<Media::Writer> writer = Media::Writer::create(file);
    Media::VideoInput* video = &writer->addVideo(tinySettings());
    Media::AudioInput* audio = &writer->addAudio();
    writer->startWriting();
    writer->startSession({1, 10});
    EXPECT_THROW(audio->append(sine(10), {0, 0}), std::runtime_error) << "no valid time";
    audio->append(sine(2400), {0, 48000});     // wholly before the start
    audio->append(sine(14400), {2400, 48000}); // 0.05 s before, 0.25 s after
    appendPictures(*video, 3, 1);
    finish(*writer);

    const json streams = probe(file, {"-select_streams", "a", "-show_entries", "stream=duration"})["streams"];
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_NEAR(std::stod(streams[0]["duration"].get<std::string>()), 0.25, 0.03);
}

TEST(Writer, EncodedPicturesGoBackToTheirPool) {
    TempFolder temp;
    auto [writer, video] = startWriter(temp / "pool.mp4");
    std::shared_ptr<Media::Picture> picture = video->pool().take();
    paintSolid(*picture);
    const Media::Picture* address = picture.get();
    video->append(std::move(picture), {0, 10});
    EXPECT_EQ(finish(*writer), "");
    EXPECT_EQ(video->pool().take().get(), address);
}

TEST(Writer, ReachesTheAverageBitRateOnBusyPictures) {
    TempFolder temp;
    const fs::path file = temp / "noise.mp4";
    Media::VideoSettings settings = tinySettings();
    settings.width = 320;
    settings.height = 180;
    settings.averageBitRate = 1'000'000;
    settings.keyFrameInterval = settings.expectedFrameRate = 25;
    auto [writer, video] = startWriter(file, settings);
    std::mt19937 random(7);
    for (int i = 0; i < 125; ++i) {
        std::shared_ptr<Media::Picture> picture = video->pool().take();
        paintNoise(*picture, random);
        video->append(std::move(picture), {i, 25});
    }
    finish(*writer);
    const json stream = probe(file, {"-show_entries", "stream=bit_rate"})["streams"];
    EXPECT_NEAR(std::stod(stream[0]["bit_rate"].get<std::string>()), 1e6, 0.25e6);
}

TEST(Writer, CancelStopsEveryThreadAndRefusesMore) {
    const size_t threadsBefore = threadsOfThisProcess();
    TempFolder temp;
    std::unique_ptr<Media::Writer> writer = Media::Writer::create(temp / "cancelled.mp4");
    Media::VideoInput* video = &writer->addVideo(tinySettings());
    Media::AudioInput* audio = &writer->addAudio();
    writer->startWriting();
    audio->requestMediaDataWhenReady([] {});
    appendPictures(*video, 4);

    writer->cancelWriting();
    EXPECT_EQ(writer->status(), Media::WriterStatus::cancelled);
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
    EXPECT_FALSE(video->readyForMoreData());
    EXPECT_EQ(thrownText<std::runtime_error>([&] { video->append(video->pool().take(), {9, 10}); }), "the writing was cancelled");
    EXPECT_EQ(thrownText<std::runtime_error>([&] { audio->append(sine(10), {0, 48000}); }), "the writing was cancelled");
    EXPECT_EQ(finish(*writer), "the writing was cancelled");
    EXPECT_EQ(writer->status(), Media::WriterStatus::cancelled);
}

TEST(Writer, DestroyedWhileWritingLeavesNoThread) {
    const size_t threadsBefore = threadsOfThisProcess();
    TempFolder temp;
    {
        Started started = startWriter(temp / "dropped.mp4");
        appendPictures(*started.video, 2);
    }
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
}

TEST(Writer, FinishingWithoutPicturesFails) {
    TempFolder temp;
    auto [writer, video] = startWriter(temp / "empty.mp4");
    EXPECT_EQ(finish(*writer), "no pictures were written");
    EXPECT_EQ(writer->status(), Media::WriterStatus::failed);
}

TEST(Writer, PictureTimesThatDoNotIncreaseFailTheWriter) {
    TempFolder temp;
    auto [writer, video] = startWriter(temp / "backwards.mp4");
    video->append(video->pool().take(), {2, 10});
    EXPECT_EQ(thrownText<std::runtime_error>([&] { video->append(video->pool().take(), {2, 10}); }),
              "a picture's time is not after the one before");
    EXPECT_EQ(writer->status(), Media::WriterStatus::failed);
    EXPECT_THROW(video->append(std::make_shared<Media::Picture>(8, 8), {3, 10}), std::runtime_error)
        << "and of the wrong size";

    Started invalid = startWriter(temp / "untimed.mp4");
    EXPECT_EQ(thrownText<std::runtime_error>([&] { invalid.video->append(invalid.video->pool().take(), {1, 0}); }),
              "a picture's time is invalid or before the session start");
}

TEST(Writer, RefusesInputsItCannotEncodeOrAfterTheStart) {
    TempFolder temp;
    std::unique_ptr<Media::Writer> writer = Media::Writer::create(temp / "refused.mp4");
    Media::VideoSettings odd = tinySettings();
    odd.width = 65;
    EXPECT_EQ(thrownText<std::runtime_error>([&] { writer->addVideo(odd); }), "the encoder won't take 65 × 36");
    Media::VideoSettings noRate = tinySettings();
    noRate.averageBitRate = 0;
    EXPECT_THROW(writer->addVideo(noRate), std::runtime_error);

    writer->addVideo(tinySettings());
    writer->startWriting();
    EXPECT_THROW(writer->addVideo(tinySettings()), std::runtime_error);
    EXPECT_THROW(writer->addAudio(), std::runtime_error);
    EXPECT_THROW(writer->startWriting(), std::runtime_error);
}

TEST(Writer, CreatingAFileInAMissingFolderThrows) {
    TempFolder temp;
    try {
        Media::Writer::create(temp / "missing" / "x.mp4");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos) << error.what();
    }
}

} // namespace
