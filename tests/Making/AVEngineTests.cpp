#include "TrelkCore/Making/AVEngine.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Making/LadderRun.h"
#include "TrelkCore/Making/Output.h"

#include "tests/support/Child.h"
#include "tests/support/Environment.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

std::string program(std::optional<fs::path> found) {
    if (!found) throw std::runtime_error("no ffmpeg or ffprobe beside the test program");
    return found->string();
}

// Runs ffmpeg on lavfi sources to make a test master at 25 pictures per second, 5 unless told.
fs::path makeMaster(const fs::path& out, const std::string& picture, std::vector<std::string> more = {},
                    const std::string& seconds = "0.2") {
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-f", "lavfi", "-i", picture + ":r=25:d=" + seconds};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.insert(arguments.end(), {"-y", out.string()});
    runProgram(program(FFDecode::path()), arguments);
    if (!fs::exists(out)) throw std::runtime_error("ffmpeg made no " + out.string());
    return out;
}

const std::vector<std::string> h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
std::vector<std::string> withSoundFor(const std::string& seconds) {
    return {"-f",   "lavfi", "-i",       "sine=f=440:r=44100:d=" + seconds, "-c:v", "libx264", "-pix_fmt", "yuv420p",
            "-c:a", "aac",   "-shortest"};
}
const std::vector<std::string> withSound = withSoundFor("0.2");

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

json probeStreams(const fs::path& file) {
    return json::parse(runProgram(program(FFDecode::probePath()),
                                  {"-v", "error", "-of", "json", "-count_frames", "-show_entries",
                                   "stream=codec_type,codec_name,profile,has_b_frames,sample_rate,channels,width,"
                                   "height,nb_read_frames",
                                   file.string()}))["streams"];
}

// The luma plane of the first picture of a file.
std::string firstLuma(const fs::path& file, int w, int h) {
    const std::string bytes = runProgram(program(FFDecode::path()), {"-v", "error", "-i", file.string(), "-frames:v",
                                                                     "1", "-f", "rawvideo", "-pix_fmt", "nv12", "-"});
    if (bytes.size() < size_t(w) * size_t(h)) throw std::runtime_error("no picture in " + file.string());
    return bytes.substr(0, size_t(w) * size_t(h));
}

LadderPlan planOf(int64_t w, int64_t h) { return LadderPlan::plan("clip", w, h, 1536, 128, LadderPlan::Alpha::no); }

void make(const fs::path& master, const LadderPlan& plan, const fs::path& into) {
    AVEngine engine;
    engine.make(
        master, engine.probe(master), plan, into, [](double) {}, [] { return false; });
}

size_t threadsOfThisProcess() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// ---- pure rules ----

TEST(Decode, NamesTheCodecTheMediaLibrariesCannotRead) {
    EXPECT_EQ(Decode::failure(" nclc "), "macOS can't read NotchLC · export ProRes or H.264");
    EXPECT_EQ(Decode::failure("NCLC"), "macOS can't read NotchLC · export ProRes or H.264");
    EXPECT_EQ(Decode::failure(" Hap1\t"), "macOS can't read this file's codec (Hap1) · export ProRes or H.264");
    EXPECT_EQ(Decode::failure("  "), "macOS can't read this file · export ProRes or H.264");
}

TEST(AVEngine, ReadsFourCharacterCodesAsTrimmedTextOrAsTheirNumber) {
    EXPECT_EQ(AVEngine::fourcc(0x61766331), "avc1");
    EXPECT_EQ(AVEngine::fourcc(0x706e6720), "png");
    EXPECT_EQ(AVEngine::fourcc(0x20726c65), "rle");
    EXPECT_EQ(AVEngine::fourcc(0x80000001), "2147483649");
}

TEST(Output, KeyFramesComeEveryRoundedRateAndBitRatesAreClamped) {
    EXPECT_EQ(Output::keyFrameInterval(29.97), 30);
    EXPECT_EQ(Output::keyFrameInterval(0.4), 1);
    EXPECT_EQ(Output::keyFrameInterval(std::nan("")), 1);
    EXPECT_EQ(Output::averageBitRate(25, 3840, 2160, Output::mainBitsPerPixel), 37'324'800);
    EXPECT_EQ(Output::averageBitRate(25, 64, 36, Output::mainBitsPerPixel), 2'000'000);
    EXPECT_EQ(Output::averageBitRate(1000, 7680, 4320, Output::stripBitsPerPixel), 240'000'000);
}

// ---- probe ----

TEST(AVEngineProbe, ReadsAnH264MovieWithItsRateCodecAndColourTags) {
    TempFolder temp;
    const fs::path master = makeMaster(
        temp / "clip.mov", "testsrc2=s=64x36",
        joined(h264, {"-color_primaries", "smpte170m", "-color_trc", "smpte170m", "-colorspace", "smpte170m"}));
    const MasterInfo info = AVEngine().probe(master);
    EXPECT_EQ(info.w, 64);
    EXPECT_EQ(info.h, 36);
    EXPECT_EQ(info.codec, "avc1");
    EXPECT_EQ(info.fpsText, "25/1");
    EXPECT_DOUBLE_EQ(info.fps, 25);
    EXPECT_EQ(info.frames, 5);
    EXPECT_FALSE(info.audio);
    EXPECT_FALSE(info.alpha);
    EXPECT_EQ(info.color, (MasterInfo::Color{"SMPTE_C", "SMPTE_170M_1999", "ITU_R_601_4"}));
}

TEST(AVEngineProbe, DescribesWideGamutOrPartlyTaggedMastersAsRec709) {
    TempFolder temp;
    const fs::path wide =
        makeMaster(temp / "wide.mov", "testsrc2=s=64x36",
                   joined(h264, {"-color_primaries", "bt2020", "-color_trc", "bt709", "-colorspace", "bt709"}));
    EXPECT_EQ(AVEngine().probe(wide).color, MasterInfo::Color::bt709());
}

// On the road of each container: a late start, sound longer than the pictures, dropped frames.
TEST(AVEngineProbe, TellsThePicturesOwnLengthAndTheSteadyRateOfAVaryingOne) {
    TempFolder temp;
    const std::vector<std::string> longerSound{"-f", "lavfi", "-i", "sine=d=0.8", "-c:a", "aac"};
    const std::vector<std::string> dropped{"-vf", "select=mod(n\\,4)", "-fps_mode", "passthrough"};
    for (const std::string extension : {"mp4", "mkv"}) {
        SCOPED_TRACE(extension);
        const std::string rate = extension == "mp4" ? "25/1" : "25";
        const fs::path late =
            makeMaster(temp / ("late." + extension), "testsrc2=s=64x36", joined(h264, {"-output_ts_offset", "10"}), "2");
        const MasterInfo lateInfo = AVEngine().probe(late);
        EXPECT_NEAR(lateInfo.duration, 2, 0.01);
        EXPECT_EQ(lateInfo.frames, 50);
        const fs::path sound = makeMaster(temp / ("sound." + extension), "testsrc2=s=64x36", joined(longerSound, h264));
        const MasterInfo soundInfo = AVEngine().probe(sound);
        EXPECT_NEAR(soundInfo.duration, 0.2, 0.03);
        EXPECT_EQ(soundInfo.frames, 5);
        EXPECT_TRUE(soundInfo.audio);
        const fs::path varying = makeMaster(temp / ("varying." + extension), "testsrc2=s=64x36", joined(dropped, h264), "1");
        const MasterInfo varyingInfo = AVEngine().probe(varying);
        EXPECT_EQ(varyingInfo.fpsText, rate) << "not the average of 18.75 a second";
        EXPECT_DOUBLE_EQ(varyingInfo.fps, 25);
    }
}

TEST(AVEngineProbe, TellsProfileAndPixelFormatSoThatOnlyWhatBrowsersDecodeIsUsedAsItIs) {
    TempFolder temp;
    const fs::path intra = makeMaster(temp / "intra.mp4", "testsrc2=s=64x36",
                                      {"-c:v", "libx264", "-pix_fmt", "yuv422p10le", "-profile:v", "high422", "-g", "1"});
    const fs::path phone = makeMaster(temp / "phone.mp4", "testsrc2=s=64x36",
                                      {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-profile:v", "baseline"});
    for (const MasterInfo& info : {AVEngine().probe(intra), FFDecode::probe(intra)}) {
        EXPECT_EQ(info.profile, "High 4:2:2 Intra");
        EXPECT_EQ(info.pixelFormat, "yuv422p10le");
    }
    EXPECT_FALSE(Ladder::usableAsIs(AVEngine().probe(intra), "mp4"));
    const MasterInfo phoneInfo = AVEngine().probe(phone);
    EXPECT_EQ(phoneInfo.profile, "Constrained Baseline");
    EXPECT_TRUE(Ladder::usableAsIs(phoneInfo, "mp4"));
}

TEST(AVEngineProbe, SendsMatroskaStraightToFFmpegAndReportsTheFirstErrorWhenBothFail) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "clip.mkv", "testsrc2=s=64x36", h264);
    EXPECT_EQ(AVEngine().probe(master).codec, "ff:h264");

    writeFile(temp / "broken.mov", "not a movie at all");
    std::string platformError;
    try {
        AVEngine::avProbe(temp / "broken.mov");
    } catch (const std::exception& error) {
        platformError = error.what();
    }
    ASSERT_FALSE(platformError.empty());
    EXPECT_THAT([&] { AVEngine().probe(temp / "broken.mov"); },
                testing::ThrowsMessage<std::exception>(testing::StrEq(platformError)));
}

// ---- make ----

TEST(AVEngineMake, MakesOneH264FileWithTheMastersSound) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "clip.mov", "testsrc2=s=64x36", withSound);
    const LadderPlan plan = planOf(64, 36);
    std::vector<double> reported;
    AVEngine engine;
    engine.make(
        master, engine.probe(master), plan, temp.path(), [&](double done) { reported.push_back(done); },
        [] { return false; });

    const json streams = probeStreams(temp / plan.file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["codec_name"], "h264");
    EXPECT_EQ(streams[0]["profile"], "High");
    EXPECT_EQ(streams[0]["has_b_frames"], 0);
    EXPECT_EQ(streams[0]["nb_read_frames"], "5");
    EXPECT_EQ(streams[1]["codec_name"], "aac");
    EXPECT_EQ(streams[1]["sample_rate"], "48000");
    EXPECT_EQ(streams[1]["channels"], 2);
    ASSERT_EQ(reported.size(), 5u);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_DOUBLE_EQ(reported.back(), 0.99);
}

// The types of the first top-level boxes of an MP4 file.
std::vector<std::string> topBoxes(const fs::path& file) {
    const std::string bytes = readFile(file);
    std::vector<std::string> types;
    for (size_t at = 0; types.size() < 4 && at + 8 <= bytes.size();) {
        const auto byte = [&](size_t i) { return uint32_t(uint8_t(bytes[at + i])); };
        const uint32_t size = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        types.push_back(bytes.substr(at + 4, 4));
        if (size < 8) break;
        at += size;
    }
    return types;
}

TEST(AVEngineMake, PutsAKeyFrameEverySecondAndTheIndexFirst) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "long.mov", "testsrc2=s=64x36", h264, "2.4");
    const LadderPlan plan = planOf(64, 36);
    make(master, plan, temp.path());

    const json frames = json::parse(runProgram(program(FFDecode::probePath()),
                                               {"-v", "error", "-of", "json", "-select_streams", "v", "-show_entries",
                                                "frame=key_frame", (temp / plan.file).string()}))["frames"];
    ASSERT_EQ(frames.size(), 60u);
    std::vector<size_t> keys;
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i]["key_frame"] == 1) keys.push_back(i);
    EXPECT_EQ(keys, (std::vector<size_t>{0, 25, 50}));
    const std::vector<std::string> boxes = topBoxes(temp / plan.file);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    EXPECT_LT(moov, std::find(boxes.begin(), boxes.end(), "mdat"));
}

TEST(AVEngineMake, MakesAScaledWideFileAndStripsBlackBeyondTheMastersEdge) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "wide.mov", "color=c=white:s=3842x16", h264);
    LadderPlan plan = planOf(3842, 16);
    ASSERT_EQ(plan.strips.size(), 3u);
    // The planner keeps strips inside the master; a later one may not.
    plan.strips.back().x += 100;
    make(master, plan, temp.path());

    const json wide = probeStreams(temp / plan.file);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0]["width"], plan.size.w);
    EXPECT_EQ(wide[0]["height"], plan.size.h);
    for (const LadderPlan::Strip& strip : plan.strips) {
        const json streams = probeStreams(temp / strip.file);
        ASSERT_EQ(streams.size(), 1u) << strip.file;
        EXPECT_EQ(streams[0]["width"], plan.stripSize.w);
        EXPECT_EQ(streams[0]["nb_read_frames"], "5");
    }

    const LadderPlan::Strip& last = plan.strips.back();
    const auto w = int(plan.stripSize.w), h = int(plan.stripSize.h);
    const int edge = int(plan.master.w - last.x);
    const std::string luma = firstLuma(temp / last.file, w, h);
    // Away from the edge, where the encoder may blur the step.
    EXPECT_NEAR(uint8_t(luma[size_t(h / 2) * size_t(w) + size_t(edge - 16)]), 235, 4);
    EXPECT_NEAR(uint8_t(luma[size_t(h / 2) * size_t(w) + size_t(edge + 16)]), 16, 4);
    EXPECT_NEAR(uint8_t(luma[size_t(h / 2) * size_t(w) + size_t(w - 1)]), 16, 4);
}

TEST(AVEngineMake, PutsTheLastColumnOfAnOddWideMasterInItsLastStrip) {
    TempFolder temp;
    // Black but for a white last column, which the lossless master keeps exactly.
    const fs::path master = makeMaster(temp / "odd.mov", "color=c=black:s=3842x16",
                                       {"-vf", "format=yuv444p,pad=3843:16:0:0:color=white", "-c:v", "libx264",
                                        "-pix_fmt", "yuv444p", "-qp", "0"});
    const LadderPlan plan = planOf(3843, 16);
    make(master, plan, temp.path());
    const LadderPlan::Strip& last = plan.strips.back();
    const auto w = size_t(plan.stripSize.w), row = size_t(plan.stripSize.h / 2) * w;
    const std::string luma = firstLuma(temp / last.file, int(w), int(plan.stripSize.h));
    EXPECT_GT(uint8_t(luma[row + size_t(3842 - last.x)]), 160) << "the master's last column";
    EXPECT_NEAR(uint8_t(luma[row + size_t(3842 - last.x - 8)]), 16, 8);
}

TEST(AVEngineMake, PadsAnOddMasterWithVideoRangeBlackAndReportsProgressOnTheFirstPicture) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "odd.mov", "color=c=white:s=65x37", h264);
    const LadderPlan plan = planOf(65, 37);
    AVEngine engine;
    MasterInfo info = engine.probe(master);
    info.frames = 1;
    std::vector<double> reported;
    engine.make(
        master, info, plan, temp.path(), [&](double done) { reported.push_back(done); }, [] { return false; });

    ASSERT_FALSE(reported.empty());
    EXPECT_DOUBLE_EQ(reported.front(), 0.99);
    const std::string luma = firstLuma(temp / plan.file, 66, 38);
    EXPECT_NEAR(uint8_t(luma[10 * 66 + 20]), 235, 4);
    EXPECT_NEAR(uint8_t(luma[10 * 66 + 65]), 16, 4) << "the added column";
    EXPECT_NEAR(uint8_t(luma[37 * 66 + 20]), 16, 4) << "the added row";
}

TEST(AVEngineMake, SendsTheCodecsOfFFmpegThroughItWhenItIsThereAndThroughTheLibrariesOtherwise) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "dnx.mov", "testsrc2=s=256x144",
                                       {"-c:v", "dnxhd", "-profile:v", "dnxhr_lb", "-pix_fmt", "yuv422p"});
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    ASSERT_EQ(info.codec, "AVdh");
    const LadderPlan plan = planOf(256, 144);
    engine.make(
        master, info, plan, temp.path(), [](double) {}, [] { return false; });
    EXPECT_EQ(probeStreams(temp / plan.file)[0]["nb_read_frames"], "5");

    fs::remove(temp / plan.file);
    {
        // The libraries decode these codecs themselves.
        ScopedEnvironment noFFmpeg("TRELK_FFMPEG", (temp / "missing").string());
        engine.make(
            master, info, plan, temp.path(), [](double) {}, [] { return false; });
    }
    EXPECT_EQ(probeStreams(temp / plan.file)[0]["nb_read_frames"], "5");
}

TEST(AVEngineMake, AMasterOnlyFFmpegReadsFailsWithItsCodecWhenFFmpegIsMissing) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "clip.mkv", "testsrc2=s=64x36", h264);
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    ScopedEnvironment noFFmpeg("TRELK_FFMPEG", (temp / "missing").string());
    EXPECT_THAT(
        [&] {
            engine.make(
                master, info, planOf(64, 36), temp.path(), [](double) {}, [] { return false; });
        },
        testing::ThrowsMessage<TrelkError>(testing::StrEq(Decode::failure("h264"))));
}

TEST(AVEngineMake, MakesAMatroskaMasterThroughFFmpegWithItsSound) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "clip.mkv", "testsrc2=s=64x36", withSound);
    const fs::path into = temp / "into";
    fs::create_directory(into);
    const LadderPlan plan = planOf(64, 36);
    make(master, plan, into);

    const json streams = probeStreams(into / plan.file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["nb_read_frames"], "5");
    EXPECT_EQ(streams[1]["codec_name"], "aac");
    EXPECT_FALSE(fs::exists(into / ".trelk-sound.wav"));
}

TEST(LadderRun, SkipsPicturesAndSoundBeforeTheStartAndBeginsTheFileAtZero) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "clip.mov", "testsrc2=s=64x36", withSound);
    const fs::path into = temp / "into";
    fs::create_directory(into);
    const auto asset = Media::MediaAsset::open(master);
    const Media::VideoTrack& track = asset->videoTracks().front();
    // As if the track began two pictures in.
    const int32_t timescale = track.timeRange.start.timescale;
    LadderRun run{.pictures = LadderRun::LibraryPictures{asset, track},
                  .sound = LadderRun::Sound{asset, asset->audioTracks().front()},
                  .start = {track.timeRange.start.value + 2 * timescale / 25, timescale},
                  .info = AVEngine::avProbe(master),
                  .plan = planOf(64, 36),
                  .dir = into};
    run.run([](double) {}, [] { return false; });

    const json video =
        json::parse(runProgram(program(FFDecode::probePath()),
                               {"-v", "error", "-of", "json", "-select_streams", "v", "-count_frames", "-show_entries",
                                "stream=nb_read_frames,start_time", (into / run.plan.file).string()}));
    EXPECT_EQ(video["streams"][0]["nb_read_frames"], "3");
    EXPECT_EQ(std::stod(video["streams"][0]["start_time"].get<std::string>()), 0);
}

TEST(AVEngineMake, ACancelEndsTheMakingWithNoThreadLeftOnEitherRoad) {
    TempFolder temp;
    for (const char* name : {"clip.mov", "clip.mkv"}) {
        const fs::path master = makeMaster(temp / name, "testsrc2=s=64x36", withSound);
        AVEngine engine;
        const MasterInfo info = engine.probe(master);
        const size_t threadsBefore = threadsOfThisProcess();
        std::atomic<bool> cancel = false;
        EXPECT_THROW(engine.make(
                         master, info, planOf(64, 36), temp.path(), [&](double) { cancel = true; },
                         [&] { return cancel.load(); }),
                     CancellationError)
            << name;
        EXPECT_EQ(threadsOfThisProcess(), threadsBefore) << name;
    }
}

TEST(AVEngineMake, AMasterWithoutPicturesFailsWithItsMessage) {
    TempFolder temp;
    const fs::path sound = temp / "sound.m4a";
    runProgram(program(FFDecode::path()),
               {"-v", "error", "-nostdin", "-f", "lavfi", "-i", "sine=d=0.2", "-c:a", "aac", "-y", sound.string()});
    EXPECT_THAT([&] { AVEngine::avProbe(sound); },
                testing::ThrowsMessage<TrelkError>(testing::StrEq("no picture in this file")));
    MasterInfo info;
    info.codec = "avc1";
    EXPECT_THAT(
        [&] {
            AVEngine().make(
                sound, info, planOf(64, 36), temp.path(), [](double) {}, [] { return false; });
        },
        testing::ThrowsMessage<TrelkError>(testing::StrEq("no picture in this file")));
}

// A ProRes master of 5 pictures, the one at index broken damaged: its frame header's own size,
// zeroed, makes the decoder read that header as the picture header, whose size is then wrong.
// The libraries stop at such invalid data; the ffmpeg program skips the picture.
fs::path proResBrokenAt(const fs::path& out, size_t broken) {
    makeMaster(out, "testsrc2=s=64x36", {"-c:v", "prores_ks"});
    std::string bytes = readFile(out);
    size_t at = bytes.find("icpf");
    for (size_t i = 0; i < broken && at != std::string::npos; ++i)
        at = bytes.find("icpf", at + 4);
    if (at == std::string::npos || at + 6 > bytes.size())
        throw std::runtime_error("no picture " + std::to_string(broken) + " in " + out.string());
    bytes.replace(at + 4, 2, 2, '\0');
    writeFile(out, bytes);
    return out;
}

TEST(AVEngineMake, RetriesThroughFFmpegWhenTheLibrariesFailAtTheFirstPicture) {
    TempFolder temp;
    const fs::path master = proResBrokenAt(temp / "broken.mov", 0);
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    ASSERT_FALSE(FFDecode::handles(info.codec)) << "the libraries must be tried first";
    const LadderPlan plan = planOf(64, 36);
    {
        ScopedEnvironment noFFmpeg("TRELK_FFMPEG", (temp / "missing").string());
        EXPECT_THAT(
            [&] {
                engine.make(
                    master, info, plan, temp.path(), [](double) {}, [] { return false; });
            },
            testing::ThrowsMessage<TrelkError>(testing::StrEq(Decode::failure(info.codec))));
    }
    engine.make(
        master, info, plan, temp.path(), [](double) {}, [] { return false; });
    EXPECT_EQ(probeStreams(temp / plan.file)[0]["nb_read_frames"], "4") << "all but the broken picture";
}

TEST(AVEngineMake, AReaderFailureAfterThePicturesBeganFailsTheMakingWithoutARetry) {
    TempFolder temp;
    const fs::path master = proResBrokenAt(temp / "broken.mov", 2);
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    int reported = 0;
    EXPECT_THAT(
        [&] {
            engine.make(
                master, info, planOf(64, 36), temp.path(), [&](double) { ++reported; }, [] { return false; });
        },
        testing::ThrowsMessage<TrelkError>(testing::StartsWith("couldn't read the master: ")));
    // The first picture is placed once the second has come; a retry would report it again.
    EXPECT_EQ(reported, 1) << "a retry would report the pictures again";
}

// A cancel that comes at one point of the making, told apart by the thread that asks. The
// making's own thread is the one that reports progress; it asks once after each picture, so
// its second question before the next picture comes from the wait for the encoders. Any other
// thread that asks is the sound pump's. The cancel comes once `pictures` pictures were reported.
class CancelAt {
public:
    enum class Point { encoderWait, soundPump };
    // The making runs on the thread that asks for it; the sound pump on a thread of its own.
    explicit CancelAt(Point point, int pictures = 1)
        : point(point), pictures(pictures), making(std::this_thread::get_id()) {}

    void progressed() {
        {
            std::lock_guard guard(lock);
            asksSinceProgress = 0;
            ++reported;
        }
        progress.notify_all();
    }

    bool cancelled() {
        std::unique_lock guard(lock);
        const bool fromMaking = std::this_thread::get_id() == making;
        if (point == Point::soundPump && !fromMaking) {
            // The pump is held until the pictures are placed, so that it sees the cancel after
            // them however fast it reads.
            progress.wait_for(guard, std::chrono::seconds(10), [&] { return reported >= pictures; });
            cancel = cancel || reported >= pictures;
        } else if (point == Point::encoderWait && reported >= pictures && fromMaking && ++asksSinceProgress == 2) {
            cancel = true;
        }
        return cancel;
    }

private:
    const Point point;
    const int pictures;
    const std::thread::id making;
    std::mutex lock; // guards asksSinceProgress, reported, cancel
    std::condition_variable progress;
    int asksSinceProgress = 0;
    int reported = 0;
    bool cancel = false;
};

TEST(AVEngineMake, ACancelWhileWaitingForTheEncodersOrInTheSoundPumpStopsEveryWriterAndThread) {
    TempFolder temp;
    // Four encoders of a wide master fall behind its one decoder; the sound outlasts the lead
    // the pump may read before the first picture.
    const fs::path master = makeMaster(temp / "wide.mov", "testsrc2=s=3842x16", withSoundFor("2"), "2");
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    const LadderPlan plan = planOf(3842, 16);
    ASSERT_EQ(plan.files().size(), 4u);
    for (const auto& [point, name] : {std::pair{CancelAt::Point::encoderWait, "the wait for the encoders"},
                                      std::pair{CancelAt::Point::soundPump, "the sound pump"}}) {
        CancelAt cancel(point);
        const size_t threadsBefore = threadsOfThisProcess();
        EXPECT_THROW(engine.make(
                         master, info, plan, temp.path(), [&](double) { cancel.progressed(); },
                         [&] { return cancel.cancelled(); }),
                     CancellationError)
            << name;
        EXPECT_EQ(threadsOfThisProcess(), threadsBefore) << name;
        for (const std::string& file : plan.files()) {
            const std::vector<std::string> boxes = topBoxes(temp / file);
            EXPECT_EQ(std::ranges::count(boxes, "moov"), 0) << name << ": " << file << " was finished";
        }
    }
}

TEST(AVEngineMake, ACancelTheSoundPumpSeesAfterTheLastPictureStillCancels) {
    TempFolder temp;
    // The sound outlasts the pictures by far, so the pump is still reading once they are done.
    std::vector<std::string> longSound = withSoundFor("4");
    longSound.erase(std::ranges::find(longSound, "-shortest"));
    const fs::path master = makeMaster(temp / "clip.mov", "testsrc2=s=64x36", longSound);
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    CancelAt cancel(CancelAt::Point::soundPump, 5); // all of the master's pictures
    EXPECT_THROW(engine.make(
                     master, info, planOf(64, 36), temp.path(), [&](double) { cancel.progressed(); },
                     [&] { return cancel.cancelled(); }),
                 CancellationError);
}

// The pictures of a file, their count and their sizes.
struct Pictures {
    std::string count;
    std::set<std::pair<int, int>> sizes;
};

Pictures picturesOf(const fs::path& file) {
    const json frames = json::parse(
        runProgram(program(FFDecode::probePath()), {"-v", "error", "-of", "json", "-select_streams", "v",
                                                    "-show_entries", "frame=width,height", file.string()}))["frames"];
    Pictures pictures{std::to_string(frames.size()), {}};
    for (const json& frame : frames)
        pictures.sizes.insert({frame["width"].get<int>(), frame["height"].get<int>()});
    return pictures;
}

TEST(AVEngineMake, AMasterCutShortFailsAndOneChangingSizeGivesPicturesOfThePlannedSize) {
    TempFolder temp;
    const LadderPlan plan = planOf(64, 36);
    {
        // The index first, then two thirds of the pictures' data.
        const fs::path master = makeMaster(temp / "cut.mp4", "testsrc2=s=64x36",
                                           joined(h264, {"-g", "1", "-movflags", "+faststart"}), "0.4");
        fs::resize_file(master, fs::file_size(master) * 2 / 3);
        EXPECT_THAT([&] { make(master, plan, temp.path()); },
                    testing::ThrowsMessage<TrelkError>(testing::StartsWith("couldn't read the master: ")));
    }
    {
        // The container says 64 × 36; halfway the stream turns 96 × 54. Without B-frames, as a
        // raw stream carries no times of its own.
        const std::vector<std::string> inOrder = joined(h264, {"-bf", "0"});
        const fs::path small = makeMaster(temp / "small.h264", "testsrc2=s=64x36", inOrder);
        const fs::path large = makeMaster(temp / "large.h264", "testsrc2=s=96x54", inOrder);
        writeFile(temp / "both.h264", readFile(small) + readFile(large));
        const fs::path master = temp / "resized.mp4";
        runProgram(program(FFDecode::path()), {"-v", "error", "-nostdin", "-r", "25", "-i",
                                               (temp / "both.h264").string(), "-c", "copy", "-y", master.string()});
        fs::create_directory(temp / "resized");
        make(master, plan, temp / "resized");
        const Pictures made = picturesOf(temp / "resized" / plan.file);
        EXPECT_EQ(made.count, "10");
        EXPECT_EQ(made.sizes, (std::set<std::pair<int, int>>{{64, 36}}));
    }
}

} // namespace
