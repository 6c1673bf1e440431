#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/FFFrames.h"

#include "TrelkCore/Error.h"

#include "tests/support/Child.h"
#include "tests/support/Environment.h"
#include "tests/support/TempFolder.h"

#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// Facts enough for the decoder: a picture of w × h at a rate.
MasterInfo shaped(int64_t w, int64_t h, std::string fpsText = "25", double fps = 25) {
    MasterInfo info;
    info.w = w;
    info.h = h;
    info.fpsText = std::move(fpsText);
    info.fps = fps;
    return info;
}

// ---- ffprobe's output, parsed ----

// What ffprobe prints for an ordinary HD master, with the stream's members patched (null removes one).
std::string probeOutput(const json& streamPatch = json::object(),
                        const json& format = json{{"duration", "10.000000"}}) {
    json stream{{"codec_type", "video"}, {"codec_name", "h264"},     {"width", 1920},
                {"height", 1080},        {"avg_frame_rate", "25/1"}, {"r_frame_rate", "25/1"},
                {"nb_frames", "250"},    {"duration", "10.000000"},  {"pix_fmt", "yuv420p"}};
    stream.merge_patch(streamPatch);
    json top{{"programs", json::array()}, {"streams", json::array({stream})}};
    if (!format.is_null()) top["format"] = format;
    return top.dump(4);
}

TEST(FFDecodeInfo, ReadsTheFactsOfAnOrdinaryMaster) {
    const MasterInfo info = FFDecode::info(probeOutput());
    EXPECT_EQ(info.w, 1920);
    EXPECT_EQ(info.h, 1080);
    EXPECT_EQ(info.fps, 25);
    EXPECT_EQ(info.fpsText, "25");
    EXPECT_EQ(info.frames, 250);
    EXPECT_EQ(info.duration, 10);
    EXPECT_EQ(info.codec, "ff:h264");
    EXPECT_FALSE(info.audio);
    EXPECT_FALSE(info.alpha);
    EXPECT_EQ(info.color, (MasterInfo::Color{"ITU_R_709_2", "ITU_R_709_2", "ITU_R_709_2"}));
}

TEST(FFDecodeInfo, TakesTheAverageRateThenTheRealRateThenThirty) {
    struct Case {
        json avg, r;
        double fps;
        std::string text;
    };
    const Case cases[] = {
        {"25/1", "50/1", 25, "25"},
        {"0/0", "25/1", 25, "25"},
        {"30000/1001", "25/1", 30000.0 / 1001, "30000/1001"},
        {"50/2", nullptr, 25, "50/2"},
        {"25//1", nullptr, 25, "25"},   // empty pieces are left out
        {"2.5e1/1", nullptr, 25, "25"}, // decimal numbers, cut to an integer text
        {"24.5/1", nullptr, 24.5, "24"},
        {nullptr, "24000/1001", 24000.0 / 1001, "24000/1001"},
        {25, "24/1", 24, "24"},       // not a string
        {"25", "24/1", 24, "24"},     // one number
        {"25/1/1", "24/1", 24, "24"}, // three numbers
        {"0/0", "0/0", 30, "30"},
        {"1/0", "abc", 30, "30"},
        {"-25/1", "25/-1", 30, "30"},
        {"0/25", " 25 / 1 ", 25, "25"}, // white space around the pieces is allowed
        {"25/1x", "", 30, "30"},
        {"1e400/1", "nan/1", 30, "30"},
        {nullptr, nullptr, 30, "30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.avg.dump() + " " + c.r.dump());
        const MasterInfo info = FFDecode::info(probeOutput({{"avg_frame_rate", c.avg}, {"r_frame_rate", c.r}}));
        EXPECT_DOUBLE_EQ(info.fps, c.fps);
        EXPECT_EQ(info.fpsText, c.text);
    }
}

TEST(FFDecodeInfo, TakesTheStreamDurationThenTheFormatsThenZero) {
    struct Case {
        json stream, format;
        double duration;
    };
    const Case cases[] = {
        {"10.000000", "20", 10}, {nullptr, "0.200000", 0.2},
        {"nan", "4", 4},         {"inf", nullptr, 0},
        {"-5", "-5", 0},         {" 5", "5 ", 0},
        {"5s", "0x", 0},         {"", "1e10", 0}, // absurd
        {"1e9", nullptr, 1e9},   {5, 6, 0},       // numbers, not texts
        {nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stream.dump() + " " + c.format.dump());
        const json format = c.format.is_null() ? json::object() : json{{"duration", c.format}};
        EXPECT_DOUBLE_EQ(FFDecode::info(probeOutput({{"duration", c.stream}}, format)).duration, c.duration);
    }
    EXPECT_EQ(FFDecode::info(probeOutput({{"duration", nullptr}}, nullptr)).duration, 0);
    EXPECT_EQ(FFDecode::info(probeOutput({{"duration", nullptr}}, "0.2")).duration, 0);
}

TEST(FFDecodeInfo, TakesMatroskasTagOfTheLastFramesEndLessTheStartBeforeTheFormatsLength) {
    struct Case {
        json tag, start;
        double duration;
    };
    const Case cases[] = {
        {"00:00:12.000000000", "10.000000", 2}, {"00:00:02.023000000", "0.023000", 2},
        {"01:02:03.5", nullptr, 3723.5},        {"00:00:01.0", "5.0", 0}, // ends before it starts
        {"00:00:xx", "0", 30},                  {"12.5", nullptr, 30}, // not a clock: the format's
        {"-1:00:00", nullptr, 30},              {12, nullptr, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag.dump() + " " + c.start.dump());
        const json patch{{"duration", nullptr}, {"start_time", c.start}, {"tags", {{"DURATION", c.tag}}}};
        EXPECT_DOUBLE_EQ(FFDecode::info(probeOutput(patch, json{{"duration", "30.0"}})).duration, c.duration);
    }
    const json varying{{"avg_frame_rate", "450/23"}, {"r_frame_rate", "25/1"}, {"nb_frames", nullptr}};
    const MasterInfo info = FFDecode::info(probeOutput(varying));
    EXPECT_EQ(info.fpsText, "25") << "the steady rate of a stream that dropped frames";
    EXPECT_EQ(info.frames, 250);
}

TEST(FFDecodeInfo, CountsFramesFromTheStreamOrFromRateAndDuration) {
    struct Case {
        json nbFrames;
        json rate;
        json duration;
        int64_t frames;
    };
    const Case cases[] = {
        {"250", "25/1", "10", 250},
        {"+7", "25/1", "10", 7},
        {"0", "25/1", "10", 0},
        {nullptr, "25/1", "0.2", 5},
        {nullptr, "30000/1001", "10.01", 300},
        {nullptr, "25/1", "0.22", 6}, // 5.5 rounds away from zero
        {"-3", "25/1", "2", 50},      // negative counts do not read
        {"7.0", "25/1", "2", 50},
        {" 7", "25/1", "2", 50},
        {"99999999999999999999", "25/1", "2", 50},
        {250, "25/1", "2", 50}, // not a string
        {nullptr, "25/1", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nbFrames.dump() + " " + c.rate.dump() + " " + c.duration.dump());
        const json patch{{"nb_frames", c.nbFrames}, {"avg_frame_rate", c.rate}, {"duration", c.duration}};
        EXPECT_EQ(FFDecode::info(probeOutput(patch, nullptr)).frames, c.frames);
    }
}

TEST(FFDecodeInfo, FindsAlphaInThePixelFormatOrTheTags) {
    struct Case {
        json patch;
        bool alpha;
    };
    const Case cases[] = {
        {{{"pix_fmt", "yuva444p10le"}}, true},
        {{{"pix_fmt", "GBRAP"}}, true},
        {{{"pix_fmt", "yuv422p10le"}}, false},
        {{{"pix_fmt", nullptr}}, false},
        {{{"pix_fmt", 12}}, false},
        {{{"tags", {{"alpha_mode", "1"}}}}, true},
        {{{"tags", {{"ALPHA_MODE", "1"}}}}, true},
        {{{"tags", {{"alpha_mode", 1}, {"ALPHA_MODE", "1"}}}}, true}, // not a string: the other spelling counts
        {{{"tags", {{"alpha_mode", "0"}, {"ALPHA_MODE", "1"}}}}, false},
        {{{"tags", {{"alpha_mode", "true"}}}}, false},
        {{{"tags", {{"ALPHA_MODE", 1}}}}, false},
        {{{"tags", "alpha_mode=1"}}, false},
        {{{"tags", json::object()}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patch.dump());
        EXPECT_EQ(FFDecode::info(probeOutput(c.patch)).alpha, c.alpha);
    }
}

TEST(FFDecodeInfo, NamesTheCodecAndTheFirstVideoStream) {
    EXPECT_EQ(FFDecode::info(probeOutput({{"codec_name", nullptr}})).codec, "ff:video");
    EXPECT_EQ(FFDecode::info(probeOutput({{"codec_name", 264}})).codec, "ff:video");
    EXPECT_EQ(FFDecode::info(probeOutput({{"codec_name", "dnxhd"}})).codec, "ff:dnxhd");

    const json streams =
        json::array({{{"codec_type", "audio"}, {"codec_name", "aac"}},
                     {{"codec_type", "data"}, {"width", 10}, {"height", 10}},
                     {{"codec_type", "video"}, {"codec_name", "hap"}, {"width", 640}, {"height", 360}},
                     {{"codec_type", "video"}, {"codec_name", "h264"}, {"width", 1920}, {"height", 1080}}});
    const MasterInfo info = FFDecode::info(json{{"streams", streams}}.dump());
    EXPECT_EQ(info.codec, "ff:hap");
    EXPECT_EQ(info.w, 640);
    EXPECT_TRUE(info.audio);
    EXPECT_EQ(info.fpsText, "30");
}

TEST(FFDecodeInfo, RefusesHostileOutputWithItsMessage) {
    const std::string notVideo = "couldn't read the master: not a video file FFmpeg knows";
    const std::string noPicture = "no picture in this file";
    const auto sized = [](json w, json h) { return probeOutput({{"width", w}, {"height", h}}); };
    struct Case {
        std::string name;
        std::string output;
        std::string message;
    };
    const std::vector<Case> cases{
        {"empty", "", notVideo},
        {"not JSON", "Invalid data found when processing input", notVideo},
        {"cut short", probeOutput().substr(0, 60), notVideo},
        {"not UTF-8", "{\"streams\": [{\"codec_type\": \"vid\xff\"}]}", notVideo},
        {"an array", "[]", notVideo},
        {"a string", "\"streams\"", notVideo},
        {"empty object", "{}", notVideo},
        {"no streams", R"({"format": {"duration": "1"}})", notVideo},
        {"streams an object", R"({"streams": {"codec_type": "video"}})", notVideo},
        {"streams a string", R"({"streams": "video"})", notVideo},
        {"a stream not an object", R"({"streams": [{"codec_type": "video", "width": 2, "height": 2}, 1]})", notVideo},
        {"deeply nested", "{\"streams\": [" + std::string(100000, '[') + std::string(100000, ']') + "]}", notVideo},
        {"no stream", R"({"streams": []})", noPicture},
        {"only sound", R"({"streams": [{"codec_type": "audio", "width": 2, "height": 2}]})", noPicture},
        {"type in capitals", probeOutput({{"codec_type", "Video"}}), noPicture},
        {"type not a string", probeOutput({{"codec_type", 1}}), noPicture},
        {"width 0", sized(0, 1080), noPicture},
        {"width -1", sized(-1, 1080), noPicture},
        {"width 1.5", sized(1.5, 1080), noPicture},
        {"width a text", sized("1920", 1080), noPicture},
        {"width true", sized(true, 1080), noPicture},
        {"width missing", sized(nullptr, 1080), noPicture},
        {"height 0", sized(1920, 0), noPicture},
        {"height missing", sized(1920, nullptr), noPicture},
        {"width past 64 bits", sized(UINT64_MAX, 1080), noPicture},
        {"width 1e300", sized(1e300, 1080), noPicture},
        {"too wide", sized(1048577, 1), "the picture is too large · 1048577 × 1"},
        {"too tall", sized(1, 1048577), "the picture is too large · 1 × 1048577"},
        {"too many pixels", sized(1048576, 1025), "the picture is too large · 1048576 × 1025"},
        {"largest 64-bit width", sized(INT64_MAX, INT64_MAX),
         "the picture is too large · 9223372036854775807 × 9223372036854775807"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT([&] { FFDecode::info(c.output); }, ThrowsMessage<TrelkError>(StrEq(c.message)));
    }
}

TEST(FFDecodeInfo, TakesPicturesUpToTheLimits) {
    EXPECT_EQ(FFDecode::info(probeOutput({{"width", 1048576}, {"height", 1024}})).w, 1048576);
    EXPECT_EQ(FFDecode::info(probeOutput({{"width", 1}, {"height", 1048576}})).h, 1048576);
    EXPECT_EQ(FFDecode::info(probeOutput({{"width", 1}, {"height", 1}})).w, 1);
}

TEST(FFDecode, KnowsPixelFormatsWithAlpha) {
    for (const char* name : {"yuva420p", "YUVA444P10LE", "rgba", "bgra", "argb", "abgr", "gbrap12le", "ya8", "ya16be",
                             "rgba64le", "bgra64be"})
        EXPECT_TRUE(FFDecode::alphaFormat(name)) << name;
    for (const char* name : {"", "yuv420p", "yuv444p10le", "rgb24", "gbrp", "gray", "nv12", "ayuv64le", " yuva420p"})
        EXPECT_FALSE(FFDecode::alphaFormat(name)) << name;
}

// ---- finding the programs ----


fs::path testProgramFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

fs::path ffmpeg() {
    std::optional<fs::path> found = FFDecode::path();
    if (!found) throw std::runtime_error("no ffmpeg beside the test program");
    return *found;
}

fs::path ffprobe() {
    std::optional<fs::path> found = FFDecode::probePath();
    if (!found) throw std::runtime_error("no ffprobe beside the test program");
    return *found;
}

// A file that is there but may not be run.
fs::path notExecutable(const TempFolder& temp) {
    const fs::path file = temp / "ffmpeg";
    writeFile(file, "#!/bin/sh\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return file;
}

// A shell script standing in for a program.
fs::path script(const fs::path& file, const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

TEST(FFDecodePath, FindsTheProgramsBesideTheRunningProgram) {
    const ScopedEnvironment noFFmpeg("TRELK_FFMPEG", std::nullopt), noFFprobe("TRELK_FFPROBE", std::nullopt);
    EXPECT_EQ(FFDecode::path(), testProgramFolder() / "ffmpeg");
    EXPECT_EQ(FFDecode::probePath(), testProgramFolder() / "ffprobe");
    const ScopedEnvironment empty("TRELK_FFMPEG", "");
    EXPECT_EQ(FFDecode::path(), testProgramFolder() / "ffmpeg");
}

TEST(FFDecodePath, AChosenProgramThatCannotRunCountsAsMissing) {
    TempFolder temp;
    const fs::path unusable = notExecutable(temp);
    {
        const ScopedEnvironment chosen("TRELK_FFMPEG", unusable.string());
        EXPECT_EQ(FFDecode::path(), std::nullopt);
        EXPECT_EQ(FFDecode::probePath(), std::nullopt);
        EXPECT_FALSE(FFDecode::handles("ff:prores"));
        EXPECT_FALSE(FFDecode::handles("Hap1"));
    }
    for (const fs::path& elsewhere : {temp.path(), temp / "missing"}) {
        const ScopedEnvironment chosen("TRELK_FFMPEG", elsewhere.string());
        EXPECT_EQ(FFDecode::path(), std::nullopt) << elsewhere;
    }
    {
        const ScopedEnvironment chosen("TRELK_FFPROBE", unusable.string());
        EXPECT_TRUE(FFDecode::path());
        EXPECT_EQ(FFDecode::probePath(), std::nullopt);
    }
    const ScopedEnvironment brokenFFmpeg("TRELK_FFMPEG", unusable.string());
    const ScopedEnvironment chosenFFprobe("TRELK_FFPROBE", (testProgramFolder() / "ffprobe").string());
    EXPECT_EQ(FFDecode::probePath(), testProgramFolder() / "ffprobe");
}

TEST(FFDecode, HandlesThePlatformsUndecodableCodecsAndFFmpegsOwn) {
    for (const char* codec : {"Hap1", " HapY\t", "CFHD", "AVdn", "ff:prores", "ff:video", "ff:"})
        EXPECT_TRUE(FFDecode::handles(codec)) << codec;
    for (const char* codec : {"avc1", "apch", "hap1", "", "FF:prores", "x ff:vp9"})
        EXPECT_FALSE(FFDecode::handles(codec)) << codec;
}

TEST(FFDecodeProbe, WithoutFFprobeNamesTheExtension) {
    TempFolder temp;
    const ScopedEnvironment chosen("TRELK_FFPROBE", notExecutable(temp).string());
    EXPECT_THAT([&] { FFDecode::probe(temp / "Shoot" / "clip.MXF"); },
                ThrowsMessage<TrelkError>(StrEq("macOS can't open .mxf files · export ProRes or H.264 in a .mov")));
    EXPECT_EQ(FFDecode::alphaOf(temp / "clip.mxf"), std::nullopt);
}

TEST(FFDecodeProbe, AnFFprobeThatWillNotStartIsReported) {
    TempFolder temp;
    const fs::path garbage = temp / "ffprobe";
    writeFile(garbage, "not a program");
    fs::permissions(garbage, fs::perms::owner_all);
    const ScopedEnvironment chosen("TRELK_FFPROBE", garbage.string());
    EXPECT_THAT([&] { FFDecode::probe(temp / "clip.mov"); },
                ThrowsMessage<TrelkError>(StrEq("couldn't start the decoder for this file")));
    EXPECT_EQ(FFDecode::alphaOf(temp / "clip.mov"), std::nullopt);
}

// ---- the argument lists ----

std::vector<std::string> decoderArguments(const std::string& master, const std::string& filter) {
    return {"-v",    "error", "-nostdin", "-noautorotate", "-i",          master, "-map",     "0:v:0",
            "-an",   "-sn",   "-fps_mode", "passthrough",  "-vf",         filter, "-f",       "rawvideo",
            "-pix_fmt", "nv12", "pipe:1"};
}

TEST(FFDecodeArguments, AreTheDecodersListWithThePictureMadeEven) {
    const std::string start = "setpts=PTS-STARTPTS,fps=25000/1000,";
    EXPECT_EQ(FFDecode::arguments("/Masters/clip 1.mov", shaped(3840, 2160)),
              decoderArguments("/Masters/clip 1.mov", start + "scale=out_color_matrix=bt709:out_range=tv,format=nv12"));
    // An odd picture is padded before its chroma is subsampled, so that no row or column is
    // lost, and the padding repeats the last row and column: no black edge is scaled in.
    EXPECT_EQ(FFDecode::arguments("/Masters/clip 1.mov", shaped(3841, 1081)),
              decoderArguments("/Masters/clip 1.mov",
                               start + "scale=out_color_matrix=bt709:out_range=tv,format=yuv444p,pad=3842:1082,"
                                       "fillborders=right=1:bottom=1:mode=smear,format=nv12"));
    MasterInfo untagged = shaped(3840, 2160, "30000/1001", 29.97);
    untagged.picture.untagged = PictureFix::Untagged::bt709;
    EXPECT_EQ(FFDecode::arguments("/Masters/clip 1.mov", untagged),
              decoderArguments("/Masters/clip 1.mov", "setpts=PTS-STARTPTS,fps=30000/1001,scale=in_color_matrix=bt709:"
                                                      "out_color_matrix=bt709:out_range=tv,format=nv12"));
}

TEST(FFDecodeArguments, NameTheMasterByAnAbsolutePath) {
    const std::vector<std::string> arguments = FFDecode::arguments("-i x.mov", shaped(64, 36));
    EXPECT_EQ(arguments.at(5), (fs::current_path() / "-i x.mov").string());
}

// ---- the real programs ----

constexpr int masterFrames = 5;
const std::string lavfiTiming = ":r=25:d=0.2";

// Runs ffmpeg to make a test master; throws when nothing was made.
fs::path make(const fs::path& out, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-v", "error", "-nostdin"});
    arguments.insert(arguments.end(), {"-y", out.string()});
    runProgram(ffmpeg().string(), arguments);
    if (!fs::exists(out)) throw std::runtime_error("ffmpeg made no " + out.string());
    return out;
}

// A solid colour given in RGB, converted to Rec. 709 video range before it is encoded.
std::vector<std::string> solid(const std::string& rgb, const std::string& size, const std::string& pixelFormat,
                               const std::string& matrix = "bt709") {
    return {"-f", "lavfi", "-i",
            "color=c=0x" + rgb + ":s=" + size + lavfiTiming + ",format=rgb24,scale=out_color_matrix=" + matrix +
                ":out_range=tv,format=" + pixelFormat};
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const std::vector<std::string> pattern{"-f", "lavfi", "-i", "testsrc2=s=64x36" + lavfiTiming};
const std::vector<std::string> tagged709{"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"};

enum class Master {
    withSound, matroska, alphaWebM, alphaProRes, red, oddRed, untaggedTeal, untaggedHDTeal, taggedTeal, dashName
};

struct Recipe {
    std::string name;
    std::vector<std::string> arguments;
};

Recipe recipe(Master master) {
    const std::vector<std::string> h264 = joined({"-c:v", "libx264"}, tagged709);
    switch (master) {
    case Master::withSound:
        return {"sound.mp4", joined(pattern, {"-f", "lavfi", "-i", "sine=r=44100:d=0.2", "-c:v", "libx264", "-c:a",
                                              "aac", "-shortest"})};
    case Master::matroska:
        return {"clip.mkv", joined(pattern, {"-c:v", "libx264"})};
    case Master::alphaWebM:
        return {"alpha.webm",
                {"-f", "lavfi", "-i", "testsrc2=s=64x36" + lavfiTiming + ",format=yuva420p", "-c:v", "libvpx-vp9",
                 "-pix_fmt", "yuva420p"}};
    case Master::alphaProRes:
        return {"alpha.mov",
                {"-f", "lavfi", "-i", "testsrc2=s=64x36" + lavfiTiming + ",format=yuva444p10le", "-c:v", "prores_ks"}};
    case Master::red:
        return {"red.mp4", joined(solid("FF0000", "64x36", "yuv420p"), h264)};
    case Master::oddRed:
        return {"odd.mkv", joined(solid("FF0000", "63x35", "yuv444p"), joined({"-c:v", "ffv1"}, tagged709))};
    // ffmpeg's own ProRes encoder writes no colour tags; below 720 lines the samples are BT.601's.
    case Master::untaggedTeal:
        return {"teal.mov", joined(solid("20A0C0", "64x36", "yuv422p10le", "bt601"), {"-c:v", "prores_ks"})};
    case Master::untaggedHDTeal:
        return {"teal-hd.mov", joined(solid("20A0C0", "1280x720", "yuv422p10le"), {"-c:v", "prores_ks"})};
    case Master::taggedTeal:
        return {"teal.mp4", joined(solid("20A0C0", "64x36", "yuv420p"), h264)};
    case Master::dashName:
        return {"-i x.mov", joined(pattern, {"-c:v", "libx264"})};
    }
    throw std::logic_error("no recipe");
}

// Tiny masters, each made the first time a test asks for it.
const fs::path& master(Master which) {
    static const TempFolder folder;
    static std::map<Master, fs::path> made;
    if (auto found = made.find(which); found != made.end()) return found->second;
    Recipe wanted = recipe(which);
    return made[which] = make(folder / wanted.name, std::move(wanted.arguments));
}

// Makes a folder the current one for a scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path& folder) : previous(fs::current_path()) { fs::current_path(folder); }
    ~CurrentFolder() { fs::current_path(previous); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    fs::path previous;
};

TEST(FFDecodeProbe, ReadsAnH264MasterWithSound) {
    const MasterInfo info = FFDecode::probe(master(Master::withSound));
    EXPECT_EQ(info.w, 64);
    EXPECT_EQ(info.h, 36);
    EXPECT_EQ(info.fps, 25);
    EXPECT_EQ(info.fpsText, "25");
    EXPECT_EQ(info.frames, masterFrames);
    EXPECT_NEAR(info.duration, 0.2, 0.001);
    EXPECT_EQ(info.codec, "ff:h264");
    EXPECT_TRUE(info.audio);
    EXPECT_FALSE(info.alpha);
}

TEST(FFDecodeProbe, CountsTheFramesOfAMatroskaFileFromItsDuration) {
    const MasterInfo info = FFDecode::probe(master(Master::matroska));
    EXPECT_NEAR(info.duration, 0.2, 0.001);
    EXPECT_EQ(info.frames, masterFrames);
    EXPECT_FALSE(info.audio);
}

TEST(FFDecodeProbe, FindsAlphaInAWebMTagAndInAPixelFormat) {
    EXPECT_TRUE(FFDecode::probe(master(Master::alphaWebM)).alpha);
    EXPECT_EQ(FFDecode::probe(master(Master::alphaWebM)).codec, "ff:vp9");
    EXPECT_TRUE(FFDecode::probe(master(Master::alphaProRes)).alpha);
    EXPECT_EQ(FFDecode::probe(master(Master::alphaProRes)).codec, "ff:prores");
}

TEST(FFDecodeProbe, RefusesFilesThatAreNotMedia) {
    TempFolder temp;
    writeFile(temp / "notes.mov", "these are not pictures");
    EXPECT_THAT([&] { FFDecode::probe(temp / "notes.mov"); },
                ThrowsMessage<TrelkError>(StrEq("couldn't read the master: not a video file FFmpeg knows")));
    EXPECT_THAT([&] { FFDecode::probe(temp / "missing.mov"); },
                ThrowsMessage<TrelkError>(StrEq("couldn't read the master: not a video file FFmpeg knows")));
    make(temp / "sound.wav", {"-f", "lavfi", "-i", "sine=d=0.1"});
    EXPECT_THAT([&] { FFDecode::probe(temp / "sound.wav"); },
                ThrowsMessage<TrelkError>(StrEq("no picture in this file")));
}

TEST(FFDecodeProbe, AMasterNamedLikeAnOptionIsReadAsAFile) {
    const CurrentFolder inMasters(master(Master::dashName).parent_path());
    EXPECT_EQ(FFDecode::probe("-i x.mov").w, 64);
    EXPECT_EQ(FFDecode::alphaOf("-i x.mov"), false);
    FFFrames frames(ffmpeg(), "-i x.mov", shaped(64, 36));
    int pictures = 0;
    while (frames.next())
        ++pictures;
    frames.finish();
    EXPECT_EQ(pictures, masterFrames);
}

TEST(FFDecode, AlphaOfAsksTheFirstVideoStream) {
    EXPECT_EQ(FFDecode::alphaOf(master(Master::alphaProRes)), true);
    EXPECT_EQ(FFDecode::alphaOf(master(Master::red)), false);
    // The VP9 decoder reads only the colour of a WebM with alpha.
    EXPECT_EQ(FFDecode::alphaOf(master(Master::alphaWebM)), false);
    TempFolder temp;
    writeFile(temp / "notes.mov", "these are not pictures");
    EXPECT_EQ(FFDecode::alphaOf(temp / "notes.mov"), std::nullopt);
}

TEST(FFDecode, CanMakeAlphaVideoWithThisFFmpeg) {
    EXPECT_TRUE(FFDecode::canAlpha());
    EXPECT_TRUE(FFDecode::canAlpha());
}

TEST(FFDecode, TellsWhetherAMasterCarriesColourTags) {
    EXPECT_EQ(FFDecode::probe(master(Master::red)).picture.untagged, PictureFix::Untagged::no);
    // Below 720 lines untagged samples are BT.601's.
    EXPECT_EQ(FFDecode::probe(master(Master::untaggedTeal)).picture.untagged, PictureFix::Untagged::bt601);
}

TEST(FFDecodeSound, ExtractsSixteenBitStereoAt48kHz) {
    TempFolder temp;
    const std::optional<fs::path> wav = FFDecode::soundAsWAV(master(Master::withSound), temp.path());
    ASSERT_EQ(wav, temp / ".trelk-sound.wav");
    EXPECT_EQ(runProgram(ffprobe().string(), {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels",
                                              "-of", "csv=p=0", wav->string()}),
              "pcm_s16le,48000,2\n");
}

TEST(FFDecodeSound, AMasterWithoutSoundGivesNone) {
    TempFolder temp;
    EXPECT_EQ(FFDecode::soundAsWAV(master(Master::red), temp.path()), std::nullopt);
    EXPECT_EQ(FFDecode::soundAsWAV(master(Master::withSound), temp / "missing folder"), std::nullopt);
    const ScopedEnvironment noFFmpeg("TRELK_FFMPEG", notExecutable(temp).string());
    EXPECT_EQ(FFDecode::soundAsWAV(master(Master::withSound), temp.path()), std::nullopt);
}

// ---- decoded pictures ----

struct YCbCr {
    double y, cb, cr;
};

// The Rec. 709 video-range values of an RGB colour given in 0…255.
YCbCr rec709(int r, int g, int b) {
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const double luma = 0.2126 * R + 0.7152 * G + 0.0722 * B;
    return {16 + 219 * luma, 128 + 224 * (B - luma) / 1.8556, 128 + 224 * (R - luma) / 1.5748};
}

// The largest distance of the luma samples in the top-left w × h from a colour.
double lumaDeviation(const Media::Picture& picture, int w, int h, YCbCr colour) {
    double largest = 0;
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            largest = std::max(largest, std::abs(picture.luma()[row * picture.lumaBytesPerRow() + x] - colour.y));
    return largest;
}

// The same for the Cb,Cr pairs of the chroma plane.
double chromaDeviation(const Media::Picture& picture, int pairs, int rows, YCbCr colour) {
    double largest = 0;
    for (int row = 0; row < rows; ++row)
        for (int pair = 0; pair < pairs; ++pair) {
            const uint8_t* sample = picture.chroma() + row * picture.chromaBytesPerRow() + 2 * pair;
            largest = std::max({largest, std::abs(sample[0] - colour.cb), std::abs(sample[1] - colour.cr)});
        }
    return largest;
}

double largestDeviation(const Media::Picture& picture, YCbCr colour) {
    return std::max(lumaDeviation(picture, picture.width(), picture.height(), colour),
                    chromaDeviation(picture, picture.width() / 2, picture.height() / 2, colour));
}

std::vector<FFFrames::Frame> readAll(FFFrames& frames) {
    std::vector<FFFrames::Frame> all;
    while (std::optional<FFFrames::Frame> frame = frames.next())
        all.push_back(std::move(*frame));
    return all;
}

// Every picture of a master through FFFrames, as the engine reads them.
std::vector<FFFrames::Frame> decodeAll(const fs::path& master) {
    const MasterInfo info = FFDecode::probe(master);
    FFFrames frames(ffmpeg(), master, info);
    std::vector<FFFrames::Frame> all = readAll(frames);
    frames.finish();
    return all;
}

TEST(FFFrames, GivesTheColoursOfASolidMasterInBothPlanes) {
    const YCbCr red = rec709(255, 0, 0);
    EXPECT_NEAR(red.y, 63, 0.5);
    EXPECT_NEAR(red.cb, 102, 0.5);
    EXPECT_NEAR(red.cr, 240, 0.5);
    const std::vector<FFFrames::Frame> all = decodeAll(master(Master::red));
    ASSERT_EQ(all.size(), size_t(masterFrames));
    for (const FFFrames::Frame& frame : all) {
        EXPECT_EQ(frame.picture->width(), 64);
        EXPECT_EQ(frame.picture->height(), 36);
        EXPECT_LE(largestDeviation(*frame.picture, red), 2);
    }
}

TEST(FFFrames, PadsAnOddMasterToEvenSizesWithItsLastRowAndColumn) {
    const MasterInfo info = FFDecode::probe(master(Master::oddRed));
    ASSERT_EQ(info.w, 63);
    FFFrames frames(ffmpeg(), master(Master::oddRed), info);
    EXPECT_EQ(frames.w, 64);
    EXPECT_EQ(frames.h, 36);
    const std::vector<FFFrames::Frame> all = readAll(frames);
    frames.finish();
    ASSERT_EQ(all.size(), size_t(masterFrames));
    for (const FFFrames::Frame& frame : all) {
        const Media::Picture& picture = *frame.picture;
        // Every row and column of the master is there, and the padding repeats the last of them:
        // no dark edge is scaled into a made file.
        EXPECT_LE(lumaDeviation(picture, 64, 36, rec709(255, 0, 0)), 2)
            << "column 63: " << int(picture.luma()[63])
            << ", row 35: " << int(picture.luma()[35 * picture.lumaBytesPerRow()]);
        EXPECT_LE(chromaDeviation(picture, 32, 18, rec709(255, 0, 0)), 2);
    }
}

TEST(FFFrames, GivesThePicturesAtTheRateFromZero) {
    struct Case {
        std::string fpsText;
        double fps;
        int64_t den;
        int32_t num;
        size_t frames; // of 0.2 s
    };
    const Case cases[] = {
        {"25", 25, 1000, 25000, 5},
        {"30000/1001", 29.97, 1001, 30000, 6},
        {"50/1", 50, 1, 50, 10},
        {"25/0", 25, 1000, 25000, 5},
        {"3000000000/1", 25, 1000, 25000, 5}, // past 32 bits the rate is the number's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fpsText);
        FFFrames frames(ffmpeg(), master(Master::red), shaped(64, 36, c.fpsText, c.fps));
        const std::vector<FFFrames::Frame> all = readAll(frames);
        frames.finish();
        ASSERT_EQ(all.size(), c.frames);
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_EQ(all[i].time, (Media::Time{c.den * int64_t(i), c.num})) << i;
    }
}

TEST(FFFrames, ReadsUntaggedMastersAsRec709FromHDUpAndBT601Below) {
    const YCbCr teal = rec709(0x20, 0xA0, 0xC0);
    for (Master which : {Master::untaggedTeal, Master::untaggedHDTeal, Master::taggedTeal}) {
        SCOPED_TRACE(int(which));
        const std::vector<FFFrames::Frame> all = decodeAll(master(which));
        ASSERT_EQ(all.size(), size_t(masterFrames));
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_LE(largestDeviation(*all[i].picture, teal), 2) << i;
    }
}

TEST(FFFrames, ADecoderKilledAfterTheLastPictureFinishesWell) {
    TempFolder temp;
    const fs::path killed = script(temp / "ffmpeg", "'" + ffmpeg().string() + "' \"$@\"\nkill -KILL $$");
    FFFrames frames(killed, master(Master::red), shaped(64, 36));
    EXPECT_EQ(readAll(frames).size(), size_t(masterFrames));
    EXPECT_NO_THROW(frames.finish());
}

TEST(FFFrames, ADecoderThatFailsReportsItsLastErrorLine) {
    TempFolder temp;
    const fs::path failing = script(temp / "ffmpeg", "head -c " + std::to_string(64 * 36 * 3 / 2) +
                                                         " /dev/zero\necho 'one thing' >&2\necho 'the last thing' >&2\n"
                                                         "echo >&2\nexit 1");
    FFFrames frames(failing, master(Master::red), shaped(64, 36));
    EXPECT_EQ(readAll(frames).size(), 1u);
    EXPECT_THAT([&] { frames.finish(); }, ThrowsMessage<TrelkError>(StrEq("couldn't read the master: the last thing")));
    EXPECT_EQ(frames.why(), "the last thing");

    const fs::path silent = script(temp / "silent", "exit 3");
    FFFrames quiet(silent, master(Master::red), shaped(64, 36));
    EXPECT_EQ(quiet.next(), std::nullopt);
    EXPECT_THAT([&] { quiet.finish(); }, ThrowsMessage<TrelkError>(StrEq("couldn't read the master")));
}

TEST(FFFrames, ATruncatedMasterFailsWithFFmpegsReason) {
    TempFolder temp;
    writeFile(temp / "cut.mp4", readFile(master(Master::red)).substr(0, 100)); // the index at the end is gone
    FFFrames frames(ffmpeg(), temp / "cut.mp4", shaped(64, 36));
    EXPECT_EQ(frames.next(), std::nullopt);
    EXPECT_THAT([&] { frames.finish(); },
                ThrowsMessage<TrelkError>(StrEq("couldn't read the master: " + (temp / "cut.mp4").string() +
                                                ": Invalid data found when processing input")));
}

TEST(FFFrames, HalfAPictureIsAFailure) {
    TempFolder temp;
    const fs::path half = script(temp / "ffmpeg", "head -c 100 /dev/zero\nexit 0");
    FFFrames frames(half, master(Master::red), shaped(64, 36));
    EXPECT_THAT([&] { frames.next(); }, ThrowsMessage<TrelkError>(StrEq(
                                            "couldn't read the master: the decoder stopped part way through a frame")));
}

TEST(FFFrames, KeepsOnlyTheStartOfAFloodOfErrors) {
    TempFolder temp;
    const fs::path flooding = script(temp / "ffmpeg", "yes 'the decoder complains' | head -c 4000000 >&2\nexit 1");
    FFFrames frames(flooding, master(Master::red), shaped(64, 36));
    EXPECT_EQ(frames.next(), std::nullopt);
    EXPECT_THAT([&] { frames.finish(); },
                ThrowsMessage<TrelkError>(testing::StartsWith("couldn't read the master: t")));
    // The kept text may end inside a line.
    EXPECT_TRUE(std::string_view("the decoder complains").starts_with(frames.why())) << frames.why();
}

TEST(FFFrames, ADecoderThatWillNotStartIsReported) {
    TempFolder temp;
    const fs::path garbage = temp / "ffmpeg";
    writeFile(garbage, "not a program");
    fs::permissions(garbage, fs::perms::owner_all);
    EXPECT_THAT([&] { FFFrames unstarted(garbage, master(Master::red), shaped(64, 36)); },
                ThrowsMessage<TrelkError>(StrEq("couldn't start the decoder for this codec")));
}

TEST(FFFrames, StopsADecoderLeftRunning) {
    TempFolder temp;
    const fs::path endless = script(temp / "ffmpeg", "exec /bin/sleep 100");
    FFFrames frames(endless, master(Master::red), shaped(64, 36));
    frames.terminate();
    EXPECT_EQ(frames.next(), std::nullopt);
    EXPECT_NO_THROW(frames.finish());
    { FFFrames abandoned(endless, master(Master::red), shaped(64, 36)); }
}

// ---- nothing left behind ----

size_t openDescriptors() {
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

bool anyChildLeft() { return !(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD); }

TEST(FFDecodeLeaks, ProbesAndDecodesOfEachKindLeaveNoDescriptorOrChild) {
    const fs::path& red = master(Master::red);
    const size_t before = openDescriptors();
    // The counts are compared exactly: a leak of one descriptor in any of the three ways shows
    // after a few children as surely as after a hundred.
    for (int i = 0; i < 3; ++i)
        FFDecode::probe(red);
    for (int i = 0; i < 4; ++i) {
        FFFrames frames(ffmpeg(), red, shaped(64, 36));
        EXPECT_EQ(readAll(frames).size(), size_t(masterFrames));
        frames.finish();
    }
    for (int i = 0; i < 3; ++i) {
        FFFrames early(ffmpeg(), red, shaped(64, 36));
        early.next();
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(anyChildLeft());
}

} // namespace
