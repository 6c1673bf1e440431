#include "TrelkCore/Platform/MediaReader.h"

#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Thrown.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Solid pictures whose samples are known: Y 100, Cb 60, Cr 200 in 8 bits.
const std::string solid8 = "format=yuv420p,geq=lum=100:cb=60:cr=200";
const std::string solid10 = "format=yuv422p10le,geq=lum=400:cb=240:cr=800";
const std::vector<std::string> bt709{"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"};

class MediaReaderTest : public testing::Test {
protected:
    // A master of five 25 fps pictures made from the filter; extra arguments go before the file.
    fs::path make(const std::string& name, const std::string& filter, const std::vector<std::string>& extra,
                  const std::string& size = "64x36") {
        const fs::path file = folder / name;
        std::vector<std::string> arguments{"-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                           "nullsrc=s=" + size + ":r=25:d=0.2," + filter};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.insert(arguments.end(), {"-y", file.string()});
        runProgram(ffmpeg().string(), arguments);
        if (!fs::exists(file)) throw std::runtime_error("ffmpeg made no " + name);
        return file;
    }

    fs::path h264(const std::string& name, const std::vector<std::string>& tags) {
        std::vector<std::string> extra{"-f", "lavfi", "-i", "sine=f=440:d=0.2:r=44100", "-c:v", "libx264",
                                       "-c:a", "aac", "-shortest"};
        extra.insert(extra.end(), tags.begin(), tags.end());
        return make(name, solid8, extra);
    }

    static fs::path ffmpeg() {
        std::optional<fs::path> found = FFDecode::path();
        if (!found) throw std::runtime_error("no ffmpeg beside the tests");
        return *found;
    }

    TempFolder folder;
};

double seconds(Media::Time time) { return double(time.value) / time.timescale; }

std::vector<Media::VideoSample> allPictures(const std::shared_ptr<const Media::MediaAsset>& asset) {
    Media::Reader reader(asset);
    reader.addVideoOutput(asset->videoTracks().at(0));
    reader.startReading();
    std::vector<Media::VideoSample> pictures;
    while (std::optional<Media::VideoSample> sample = reader.copyNextVideoSample())
        pictures.push_back(std::move(*sample));
    EXPECT_EQ(reader.status(), Media::Reader::Status::completed);
    return pictures;
}

// Every luma sample within 2 of y, every chroma pair within 2 of (cb, cr).
void expectSolid(const Media::Picture& picture, int y, int cb, int cr) {
    int wrong = 0;
    for (int row = 0; row < picture.height(); ++row)
        for (int i = 0; i < picture.width(); ++i)
            wrong += std::abs(picture.luma()[picture.lumaBytesPerRow() * row + i] - y) > 2;
    for (int row = 0; row < (picture.height() + 1) / 2; ++row)
        for (int i = 0; i < (picture.width() + 1) / 2; ++i) {
            const uint8_t* pair = picture.chroma() + picture.chromaBytesPerRow() * row + 2 * i;
            wrong += std::abs(pair[0] - cb) > 2 || std::abs(pair[1] - cr) > 2;
        }
    EXPECT_EQ(wrong, 0) << "first luma " << int(picture.luma()[0]) << ", first chroma " << int(picture.chroma()[0])
                        << " " << int(picture.chroma()[1]);
}

TEST_F(MediaReaderTest, DescribesAnH264MasterWithSound) {
    auto asset = Media::MediaAsset::open(h264("tagged.mp4", bt709));
    ASSERT_EQ(asset->videoTracks().size(), 1u);
    ASSERT_EQ(asset->audioTracks().size(), 1u);
    const Media::VideoTrack& track = asset->videoTracks()[0];
    EXPECT_EQ(track.naturalWidth, 64);
    EXPECT_EQ(track.naturalHeight, 36);
    EXPECT_DOUBLE_EQ(track.nominalFrameRate, 25);
    ASSERT_TRUE(track.minFrameDuration);
    EXPECT_EQ(*track.minFrameDuration, (Media::Time{1, 25}));
    EXPECT_NEAR(seconds(track.timeRange.start), 0, 1e-9);
    EXPECT_NEAR(seconds(track.timeRange.duration), 0.2, 1e-3);
    EXPECT_NEAR(asset->duration(), 0.2, 0.03);
    const Media::FormatDescription& format = track.formatDescriptions.at(0);
    EXPECT_EQ(format.mediaSubType, 0x61766331u); // avc1
    EXPECT_EQ(format.colorPrimaries, "ITU_R_709_2");
    EXPECT_EQ(format.transferFunction, "ITU_R_709_2");
    EXPECT_EQ(format.yCbCrMatrix, "ITU_R_709_2");
    EXPECT_EQ(format.depth, 24);
}

TEST_F(MediaReaderTest, LeavesTheTagsOfAnUntaggedMasterAbsent) {
    auto asset = Media::MediaAsset::open(h264("untagged.mp4", {}));
    const Media::FormatDescription& format = asset->videoTracks().at(0).formatDescriptions.at(0);
    EXPECT_FALSE(format.colorPrimaries);
    EXPECT_FALSE(format.transferFunction);
    EXPECT_FALSE(format.yCbCrMatrix);
}

TEST_F(MediaReaderTest, DeliversEveryPictureWithItsTimeAndColour) {
    auto asset = Media::MediaAsset::open(h264("tagged.mp4", bt709));
    std::vector<Media::VideoSample> pictures = allPictures(asset);
    ASSERT_EQ(pictures.size(), 5u);
    const double start = seconds(asset->videoTracks()[0].timeRange.start);
    for (size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(seconds(pictures[i].presentationTime) - start, 0.04 * double(i), 1e-6);
        ASSERT_EQ(pictures[i].picture->width(), 64);
        ASSERT_EQ(pictures[i].picture->height(), 36);
        expectSolid(*pictures[i].picture, 100, 60, 200);
    }
}

TEST_F(MediaReaderTest, ReadsUntaggedTenBitProResAsRec709) {
    const std::vector<std::string> proRes{"-c:v", "prores_ks", "-profile:v", "standard"};
    // ffmpeg's ProRes encoder writes no tags of its own; they are set in the bitstream after it.
    std::vector<std::string> tagged = proRes;
    tagged.insert(tagged.end(), {"-bsf:v", "prores_metadata=color_primaries=bt709:color_trc=bt709:colorspace=bt709"});
    auto untagged = Media::MediaAsset::open(make("untagged.mov", solid10, proRes));
    auto reference = Media::MediaAsset::open(make("tagged.mov", solid10, tagged));

    const Media::FormatDescription& format = untagged->videoTracks().at(0).formatDescriptions.at(0);
    EXPECT_EQ(format.mediaSubType, 0x6170636eu); // apcn
    EXPECT_FALSE(format.yCbCrMatrix);
    EXPECT_EQ(reference->videoTracks().at(0).formatDescriptions.at(0).yCbCrMatrix, "ITU_R_709_2");

    std::vector<Media::VideoSample> plain = allPictures(untagged), expected = allPictures(reference);
    ASSERT_EQ(plain.size(), 5u);
    ASSERT_EQ(expected.size(), 5u);
    expectSolid(*expected[0].picture, 100, 60, 200);
    expectSolid(*plain[0].picture, 100, 60, 200);
}

TEST_F(MediaReaderTest, KeepsAnOddSizeAsItIs) {
    struct Case {
        std::string file, filter, codec;
        int y, cb, cr;
    };
    // Untagged pure red is Y 63, Cb 102, Cr 240 in Rec. 709 video range (Y 81, Cb 90 in BT.601);
    // the 4:2:0 master is copied.
    for (const Case& c : {Case{"odd.mov", "format=rgb24,geq=r=255:g=0:b=0", "png", 63, 102, 240},
                          Case{"odd.mkv", solid8, "ffv1", 100, 60, 200}}) {
        SCOPED_TRACE(c.codec);
        auto asset = Media::MediaAsset::open(make(c.file, c.filter, {"-c:v", c.codec}, "63x35"));
        std::vector<Media::VideoSample> pictures = allPictures(asset);
        ASSERT_EQ(pictures.size(), 5u);
        EXPECT_EQ(pictures[0].picture->width(), 63);
        EXPECT_EQ(pictures[0].picture->height(), 35);
        expectSolid(*pictures[0].picture, c.y, c.cb, c.cr);
    }
}

TEST_F(MediaReaderTest, NamesCodecsOutsideQuickTimeFiles) {
    auto asset = Media::MediaAsset::open(make("master.mkv", solid8, {"-c:v", "libx264"}));
    EXPECT_EQ(asset->videoTracks().at(0).formatDescriptions.at(0).mediaSubType, 0x61766331u); // avc1
    auto png = Media::MediaAsset::open(make("still.mov", "format=rgba", {"-c:v", "png"}));
    const Media::FormatDescription& format = png->videoTracks().at(0).formatDescriptions.at(0);
    EXPECT_EQ(format.mediaSubType, 0x706e6720u); // "png "
    EXPECT_EQ(format.depth, 32);
}

TEST_F(MediaReaderTest, ReadsPicturesAndSoundOnTwoThreadsAtOnce) {
    auto asset = Media::MediaAsset::open(h264("tagged.mp4", bt709));
    Media::Reader reader(asset);
    reader.addVideoOutput(asset->videoTracks()[0]);
    reader.addAudioOutput(asset->audioTracks()[0]);
    reader.startReading();
    size_t sound = 0;
    std::thread pump([&] {
        while (std::optional<Media::AudioSample> sample = reader.copyNextAudioSample())
            sound += sample->frameCount();
    });
    int pictures = 0;
    while (reader.copyNextVideoSample())
        ++pictures;
    pump.join();
    EXPECT_EQ(pictures, 5);
    EXPECT_GT(sound, 8000u);
    EXPECT_EQ(reader.status(), Media::Reader::Status::completed);
}

TEST_F(MediaReaderTest, DeliversSoundAs48kHzStereo) {
    auto asset = Media::MediaAsset::open(h264("tagged.mp4", bt709));
    Media::Reader reader(asset);
    reader.addAudioOutput(asset->audioTracks().at(0));
    reader.startReading();
    size_t frames = 0, loud = 0;
    std::optional<Media::Time> last;
    while (std::optional<Media::AudioSample> sample = reader.copyNextAudioSample()) {
        EXPECT_EQ(sample->presentationTime.timescale, 48000);
        if (last) {
            EXPECT_GT(sample->presentationTime.value, last->value);
        }
        last = sample->presentationTime;
        for (size_t i = 0; i + 1 < sample->samples.size(); i += 2) {
            EXPECT_EQ(sample->samples[i], sample->samples[i + 1]); // mono on both sides
            loud += std::abs(sample->samples[i]) > 1000;
        }
        frames += sample->frameCount();
    }
    EXPECT_EQ(reader.status(), Media::Reader::Status::completed);
    EXPECT_NEAR(double(frames), 0.2 * 48000, 2048);
    EXPECT_GT(loud, frames / 4);
}

TEST_F(MediaReaderTest, RefusesWhatItCannotRead) {
    writeFile(folder / "notes.mov", "these are not pictures");
    try {
        Media::MediaAsset::open(folder / "notes.mov");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid data found when processing input");
    }
    EXPECT_THROW(Media::MediaAsset::open(folder / "missing.mp4"), std::runtime_error);
}

// Renames every sample entry of the codec to a code no decoder knows; the brands at the start stay.
void renameCodec(const fs::path& file, const std::string& code) {
    std::string bytes = readFile(file);
    for (size_t at = bytes.find(code, 32); at != std::string::npos; at = bytes.find(code, at + 4))
        bytes.replace(at, 4, "zzzz");
    writeFile(file, bytes);
}

TEST_F(MediaReaderTest, FailsToStartOnAPictureCodecWithoutDecoderAndRefusesSuchSound) {
    const fs::path file = h264("unknown.mp4", {});
    renameCodec(file, "avc1");
    renameCodec(file, "mp4a");
    renameCodec(file, "esds"); // else the demuxer finds AAC from the decoder description
    auto asset = Media::MediaAsset::open(file);
    EXPECT_EQ(asset->videoTracks().at(0).formatDescriptions.at(0).mediaSubType, 0x7a7a7a7au);
    Media::Reader reader(asset);
    EXPECT_EQ(thrownText<std::runtime_error>([&] { reader.addAudioOutput(asset->audioTracks().at(0)); }), "Decoder not found");
    reader.addVideoOutput(asset->videoTracks().at(0));
    EXPECT_EQ(thrownText<std::runtime_error>([&] { reader.startReading(); }), "Decoder not found");
    EXPECT_EQ(reader.status(), Media::Reader::Status::failed);
    EXPECT_FALSE(reader.copyNextVideoSample());
}

TEST_F(MediaReaderTest, TakesOutputsOnlyBeforeReadingAndStopsOnCancel) {
    auto asset = Media::MediaAsset::open(h264("tagged.mp4", bt709));
    Media::Reader reader(asset);
    EXPECT_FALSE(reader.copyNextVideoSample());
    Media::AudioTrack notSound;
    notSound.streamIndex = asset->videoTracks()[0].streamIndex;
    EXPECT_THROW(reader.addAudioOutput(notSound), std::runtime_error);
    reader.addVideoOutput(asset->videoTracks()[0]);
    EXPECT_THROW(reader.addVideoOutput(asset->videoTracks()[0]), std::runtime_error);
    reader.startReading();
    EXPECT_THROW(reader.addAudioOutput(asset->audioTracks()[0]), std::runtime_error);
    EXPECT_THROW(reader.startReading(), std::runtime_error);
    EXPECT_TRUE(reader.copyNextVideoSample());
    reader.cancelReading();
    EXPECT_FALSE(reader.copyNextVideoSample());
    EXPECT_EQ(reader.status(), Media::Reader::Status::cancelled);
}

// Overwrites the header of the third ProRes frame, after its "icpf" mark.
void spoilThirdFrame(const fs::path& file) {
    std::string bytes = readFile(file);
    size_t at = 0;
    for (int frame = 0; frame < 3; ++frame)
        at = bytes.find("icpf", at + 1);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + 4, 8, std::string(8, '\xff'));
    writeFile(file, bytes);
}

TEST_F(MediaReaderTest, FailsWithFFmpegsTextOnABrokenPicture) {
    const fs::path file = make("broken.mov", solid10, {"-c:v", "prores_ks"});
    spoilThirdFrame(file);
    auto asset = Media::MediaAsset::open(file);
    Media::Reader reader(asset);
    reader.addVideoOutput(asset->videoTracks().at(0));
    reader.startReading();
    int pictures = 0;
    const std::string failure = thrownText<std::runtime_error>([&] {
        while (reader.copyNextVideoSample())
            ++pictures;
    });
    EXPECT_LT(pictures, 5);
    EXPECT_EQ(reader.status(), Media::Reader::Status::failed);
    EXPECT_EQ(failure, "Invalid data found when processing input");
}

size_t openDescriptors() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(MediaReaderTest, LeavesNoDescriptorOpen) {
    const fs::path file = h264("tagged.mp4", bt709);
    const size_t before = openDescriptors();
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto asset = Media::MediaAsset::open(file);
        Media::Reader reader(asset);
        reader.addVideoOutput(asset->videoTracks()[0]);
        reader.addAudioOutput(asset->audioTracks()[0]);
        reader.startReading();
        while (reader.copyNextVideoSample() || reader.copyNextAudioSample()) {
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
