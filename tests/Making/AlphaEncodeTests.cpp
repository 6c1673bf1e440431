#include "TrelkCore/Making/AlphaEncode.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Platform/Text.h"

#include "tests/support/Child.h"
#include "tests/support/Environment.h"
#include "tests/support/TempFolder.h"

#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// The runner's strip width and overlap.
LadderPlan alphaPlan(int64_t w, int64_t h) { return LadderPlan::plan("clip", w, h, 1536, 128, LadderPlan::Alpha::yes); }

enum class Sound { with, without };

MasterInfo infoOf(int64_t w, int64_t h, double fps = 25, Sound sound = Sound::without) {
    MasterInfo info;
    info.w = w;
    info.h = h;
    info.fps = fps;
    info.fpsText = "25/1";
    info.duration = 0.2;
    info.audio = sound == Sound::with;
    info.alpha = true;
    return info;
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::vector<fs::path> outputsOf(const LadderPlan& plan, const fs::path& into) {
    std::vector<fs::path> files{into / plan.file};
    for (const LadderPlan::Strip& strip : plan.strips)
        files.push_back(into / strip.file);
    return files;
}

// ---- the argument lists ----

const std::vector<std::string> head{"-v",       "error",         "-nostdin", "-y",
                                    "-progress", "pipe:1",       "-nostats", "-noautorotate",
                                    "-i",       "/Masters/clip.mov"};
const std::vector<std::string> opus{"-map", "0:a:0?", "-af", "apad",  "-shortest", "-c:a", "opus", "-strict",
                                    "-2",   "-b:a",   "160k", "-ar",  "48000",     "-ac",  "2"};

std::vector<std::string> vp9(const std::string& crf) {
    return {"-fps_mode",     "passthrough", "-c:v",      "libvpx-vp9", "-pix_fmt",  "yuva420p", "-crf",    crf,
            "-b:v",          "0",           "-deadline", "good",       "-cpu-used", "4",        "-row-mt", "1",
            "-auto-alt-ref", "0",           "-g",        "25",         "-sn",       "-dn"};
}

std::vector<std::string> argumentsOf(const LadderPlan& plan, const MasterInfo& info) {
    return AlphaEncode::arguments("/Masters/clip.mov", "/Movies/.make", plan, info);
}

TEST(AlphaEncodeArguments, AMaster3840WideIsOnePaddedFileWithOrWithoutSound) {
    const std::vector<std::string> picture =
        joined(joined(head, {"-map", "0:v:0", "-vf", "fps=25/1,pad=ceil(iw/2)*2:ceil(ih/2)*2:color=black@0,format=yuva420p"}),
               vp9("24"));
    const std::vector<std::string> file{"-f", "webm", "/Movies/.make/clip.webm"};
    EXPECT_EQ(argumentsOf(alphaPlan(3840, 2160), infoOf(3840, 2160)), joined(joined(picture, {"-an"}), file));
    EXPECT_EQ(argumentsOf(alphaPlan(3840, 2160), infoOf(3840, 2160, 25, Sound::with)),
              joined(joined(picture, opus), file));
}

TEST(AlphaEncodeArguments, AMaster3841WideIsAScaledMainFileAndSilentStrips) {
    const LadderPlan plan = alphaPlan(3841, 1080);
    // The last strip holds the master's last column, cut at full chroma resolution to keep it.
    const std::string graph =
        "[0:v:0]fps=25/1,split=4[w][s0][s1][s2];[w]scale=3840:1080:flags=lanczos,format=yuva420p[wo];"
        "[s0]crop=1536:ih:0:0,pad=1536:1080:0:0:color=black@0,format=yuva420p[so0];"
        "[s1]crop=1536:ih:1152:0,pad=1536:1080:0:0:color=black@0,format=yuva420p[so1];"
        "[s2]format=yuva444p,crop=1535:ih:2306:0,pad=1536:1080:0:0:color=black@0,format=yuva420p[so2]";
    std::vector<std::string> expected = joined(joined(head, {"-filter_complex", graph, "-map", "[wo]"}), vp9("24"));
    expected = joined(joined(expected, opus), {"-f", "webm", "/Movies/.make/clip.wide-3841x1080.webm"});
    for (const auto& [map, file] :
         {std::pair{"[so0]", "clip.strip-x00000-w1536.webm"}, std::pair{"[so1]", "clip.strip-x01152-w1536.webm"},
          std::pair{"[so2]", "clip.strip-x02306-w1536.webm"}})
        expected = joined(joined(joined(expected, {"-map", map}), vp9("22")),
                          {"-an", "-f", "webm", "/Movies/.make/" + std::string(file)});
    EXPECT_EQ(argumentsOf(plan, infoOf(3841, 1080, 25, Sound::with)), expected);

    const std::vector<std::string> silent = argumentsOf(plan, infoOf(3841, 1080));
    EXPECT_EQ(std::ranges::count(silent, "-an"), 4);
    EXPECT_EQ(std::ranges::count(silent, "0:a:0?"), 0);
}

// A package as given, such as one whose last strip reaches past the master's right edge.
LadderPlan packagePlan(LadderPlan::Size master, LadderPlan::Size size, std::vector<LadderPlan::Strip> strips,
                       LadderPlan::Size stripSize) {
    LadderPlan plan;
    plan.master = master;
    plan.file = "wide.webm";
    plan.size = size;
    plan.strips = std::move(strips);
    plan.stripSize = stripSize;
    plan.alpha = true;
    return plan;
}

TEST(AlphaEncodeArguments, CutsTheLastStripAtTheMastersEdge) {
    const LadderPlan plan =
        packagePlan({7680, 2160}, {3840, 1080}, {{"s0.webm", 0, 4096}, {"s1.webm", 3840, 4096}}, {4096, 2160});
    const std::vector<std::string> arguments = argumentsOf(plan, infoOf(7680, 2160));
    const auto graph = std::ranges::find(arguments, "-filter_complex");
    ASSERT_NE(graph, arguments.end());
    EXPECT_EQ(*(graph + 1), "[0:v:0]fps=25/1,split=3[w][s0][s1];[w]scale=3840:1080:flags=lanczos,format=yuva420p[wo];"
                            "[s0]crop=4096:ih:0:0,pad=4096:2160:0:0:color=black@0,format=yuva420p[so0];"
                            "[s1]crop=3840:ih:3840:0,pad=4096:2160:0:0:color=black@0,format=yuva420p[so1]");
}

TEST(AlphaEncodeArguments, TheKeyIntervalIsTheRoundedRateAndAtLeastOne) {
    const std::pair<double, std::string> cases[] = {
        {25, "25"}, {29.97, "30"}, {23.976, "24"}, {59.94, "60"}, {2.5, "3"}, {0.4, "1"}, {0, "1"}, {-30, "1"},
    };
    for (const auto& [fps, interval] : cases) {
        SCOPED_TRACE(fps);
        for (const LadderPlan& plan : {alphaPlan(1920, 1080), alphaPlan(7680, 1080)}) {
            const std::vector<std::string> arguments = argumentsOf(plan, infoOf(plan.master.w, 1080, fps));
            std::vector<std::string> intervals;
            for (auto at = arguments.begin(); (at = std::find(at, arguments.end(), "-g")) != arguments.end(); ++at)
                intervals.push_back(*(at + 1));
            EXPECT_EQ(intervals, std::vector<std::string>(plan.strips.size() + 1, interval));
        }
    }
}

TEST(AlphaEncodeArguments, NameEveryFileByAnAbsolutePath) {
    const LadderPlan plan = alphaPlan(3842, 16);
    const std::vector<std::string> arguments = AlphaEncode::arguments("-i x.mov", "out", plan, infoOf(3842, 16));
    EXPECT_EQ(arguments.at(9), (fs::current_path() / "-i x.mov").string());
    std::vector<std::string> files, expected;
    std::ranges::copy_if(arguments, std::back_inserter(files),
                         [](const std::string& a) { return a.ends_with(".webm"); });
    for (const fs::path& file : outputsOf(plan, fs::current_path() / "out"))
        expected.push_back(file.string());
    EXPECT_EQ(files, expected);
}

// ---- progress lines ----

TEST(AlphaEncodeFraction, ReadsOnlyTheOutputTime) {
    struct Case {
        std::string line;
        double duration;
        std::optional<double> fraction;
    };
    const Case cases[] = {
        {"out_time_us=1000000", 2, 0.5},
        {"out_time_us=0", 2, 0},
        {"out_time_us=+1500000", 2, 0.75},
        {"out_time_us=1e6", 2, 0.5},
        {"out_time_us=1980000", 2, 0.99},
        {"out_time_us=5000000", 2, 0.99}, // past the end
        {"out_time_us=-5000", 2, 0},
        {"out_time_us=N/A", 2, std::nullopt},
        {"out_time_us=", 2, std::nullopt},
        {"out_time_us", 2, std::nullopt},
        {"out_time_us=12ab", 2, std::nullopt},
        {"out_time_us= 12", 2, std::nullopt},
        {"out_time_us=12\r", 2, std::nullopt},
        {"out_time_us=\xEF\xBF\xBD", 2, std::nullopt},
        {"out_time_ms=1000000", 2, std::nullopt},
        {"out_time=00:00:01.000000", 2, std::nullopt},
        {" out_time_us=1000000", 2, std::nullopt},
        {"OUT_TIME_US=1000000", 2, std::nullopt},
        {"progress=end", 2, std::nullopt},
        {"", 2, std::nullopt},
        {"out_time_us=1000000", 0, std::nullopt},
        {"out_time_us=1000000", -1, std::nullopt},
        {"out_time_us=1000000", NAN, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line + " for " + std::to_string(c.duration));
        EXPECT_EQ(AlphaEncode::fraction(c.line, c.duration), c.fraction);
    }
}

// ---- the program ----

fs::path ffmpeg() {
    std::optional<fs::path> found = FFDecode::path();
    if (!found) throw std::runtime_error("no ffmpeg beside the test program");
    return *found;
}

// A shell script standing in for ffmpeg.
fs::path script(const fs::path& file, const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

// Script lines that make an empty file for every output named in the arguments, as ffmpeg would.
const std::string touchOutputs = R"(for a; do case "$a" in *.webm) : > "$a";; esac; done)";

bool anyExists(const std::vector<fs::path>& files) {
    return std::ranges::any_of(files, [](const fs::path& f) { return fs::exists(f); });
}

// Makes the plan and returns every fraction reported.
std::vector<double> makeAll(
    const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
    const AlphaEncode::Cancelled& cancelled = [] { return false; }) {
    std::vector<double> reported;
    AlphaEncode::make(
        master, info, plan, into, [&](double fraction) { reported.push_back(fraction); }, cancelled);
    return reported;
}

void expectProgressEndingAt99(const std::vector<double>& reported) {
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::ranges::is_sorted(reported)) << testing::PrintToString(reported);
    EXPECT_GE(reported.front(), 0);
    EXPECT_EQ(reported.back(), 0.99);
}

TEST(AlphaEncodeMake, RefusesBeforeFFmpegRuns) {
    struct Case {
        std::string program;
        fs::perms permissions;
        int64_t h;
        std::string message;
    };
    const std::string marking = "#!/bin/sh\n: > \"$0.ran\"\n";
    const Case cases[] = {
        {marking, fs::perms::owner_all, 4097,
         "an alpha master over 4096 px tall isn't made yet · export it at 4096 or less"},
        {marking, fs::perms::owner_read | fs::perms::owner_write, 36,
         "this copy of Trelk can't make alpha video · install Trelk again"},
        {"not a program", fs::perms::owner_all, 36, "couldn't start the encoder for alpha video"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TempFolder temp;
        writeFile(temp / "ffmpeg", c.program);
        fs::permissions(temp / "ffmpeg", c.permissions);
        const ScopedEnvironment chosen("TRELK_FFMPEG", (temp / "ffmpeg").string());
        EXPECT_THAT([&] { makeAll(temp / "clip.mkv", infoOf(16, c.h), alphaPlan(16, c.h), temp.path()); },
                    ThrowsMessage<TrelkError>(StrEq(c.message)));
        EXPECT_FALSE(fs::exists(temp / "ffmpeg.ran"));
    }
}

TEST(AlphaEncodeMake, AFailingFFmpegGivesItsLastErrorLineAndLeavesNothing) {
    struct Case {
        std::string stderrText;
        std::string exit;
        std::string message;
    };
    const Case cases[] = {
        {R"(Input #0, matroska\nStream #0:0: Video: ffv1\nclip.mkv: Invalid data found when processing input\n)",
         "exit 1", "couldn't make the alpha video: clip.mkv: Invalid data found when processing input"},
        {R"(first\nlast words\n\n\n)", "exit 1", "couldn't make the alpha video: last words"},
        {R"(no line feed at the end)", "exit 69", "couldn't make the alpha video: no line feed at the end"},
        {R"(bad byte \377 here\n)", "exit 1", "couldn't make the alpha video: bad byte \xEF\xBF\xBD here"},
        {"", "exit 1", "couldn't make the alpha video"},
        {R"(\n\n)", "exit 1", "couldn't make the alpha video"},
        {R"(crashed\n)", "kill -KILL $$", "couldn't make the alpha video: crashed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stderrText);
        TempFolder temp;
        const ScopedEnvironment chosen("TRELK_FFMPEG", (
            script(temp / "ffmpeg", touchOutputs + "\nprintf '" + c.stderrText + "' >&2\n" + c.exit)).string());
        const LadderPlan plan = alphaPlan(3842, 16);
        EXPECT_THAT([&] { makeAll(temp / "clip.mkv", infoOf(3842, 16), plan, temp.path()); },
                    ThrowsMessage<TrelkError>(StrEq(c.message)));
        EXPECT_FALSE(anyExists(outputsOf(plan, temp.path())));
    }
}

TEST(AlphaEncodeMake, SkipsProgressLinesThatAreCutOrGarbled) {
    TempFolder temp;
    const ScopedEnvironment chosen("TRELK_FFMPEG", (script(temp / "ffmpeg", R"(
printf 'out_time_us=100000\nout_time_us=\377\376\nout_time_us=2\000\nout_time_us=12ab\nout_time_us=\n'
printf 'frame=5\nout_time_ms=400000\nout_ti'
sleep 0.1
printf 'me_us=300000\n'
head -c 100000 /dev/zero | tr '\0' 'x'
printf '\nout_time_us=500000\nout_time_us=900000')")).string());
    MasterInfo info = infoOf(64, 36);
    info.duration = 1;
    EXPECT_EQ(makeAll(temp / "clip.mkv", info, alphaPlan(64, 36), temp.path()),
              (std::vector<double>{0.1, 0.3, 0.5, 0.99}));
}

// ---- real runs ----

fs::path ffprobe() {
    std::optional<fs::path> found = FFDecode::probePath();
    if (!found) throw std::runtime_error("no ffprobe beside the test program");
    return *found;
}

// Five frames of half-transparent red, losslessly, with a tone when asked; throws when nothing was made.
fs::path makeMaster(const fs::path& file, const std::string& size, Sound sound,
                    const std::string& timing = "r=25:d=0.2") {
    std::vector<std::string> arguments{
        "-v", "error", "-nostdin", "-f", "lavfi", "-i", "color=c=red@0.5:s=" + size + ":" + timing + ",format=bgra"};
    if (sound == Sound::with)
        arguments = joined(arguments, {"-f", "lavfi", "-i", "sine=d=0.2", "-c:a", "flac", "-shortest"});
    runProgram(ffmpeg().string(), joined(arguments, {"-c:v", "ffv1", "-y", file.string()}));
    if (!fs::exists(file)) throw std::runtime_error("ffmpeg made no " + file.string());
    return file;
}

// Tiny masters, made once for the whole test program.
struct Masters {
    TempFolder folder;
    fs::path wide = makeMaster(folder / "wide.mkv", "3842x16", Sound::with);
    fs::path wideSilent = makeMaster(folder / "wide silent.mkv", "3842x16", Sound::without);
    fs::path odd = makeMaster(folder / "odd.mkv", "33x17", Sound::with);
    fs::path tall = makeMaster(folder / "tall.mkv", "16x4096", Sound::without, "r=25:d=0.08");
};

const Masters& masters() {
    static const Masters made;
    return made;
}

// The tag's value; ffprobe spells its name in either case, as the WebM element or the tag came last.
std::string alphaModeOf(const json& stream) {
    const json tags = stream.value("tags", json::object());
    for (const auto& [name, value] : tags.items())
        if (Text::lowercased(name) == "alpha_mode") return value.get<std::string>();
    return "";
}

// Each stream of a made file as ffprobe sees it: "video vp9 34×18 ALPHA_MODE=1", "audio opus".
std::vector<std::string> streamsOf(const fs::path& file) {
    const std::string output = runProgram(ffprobe().string(), {"-v", "error", "-show_entries",
                                                               "stream=codec_type,codec_name,width,height:stream_tags",
                                                               "-of", "json", file.string()});
    std::vector<std::string> streams;
    for (const json& stream : json::parse(output).value("streams", json::array())) {
        std::string text = stream.value("codec_type", "") + " " + stream.value("codec_name", "");
        if (stream.contains("width"))
            text += " " + std::to_string(stream.value("width", 0)) + "×" + std::to_string(stream.value("height", 0)) +
                    " ALPHA_MODE=" + alphaModeOf(stream);
        streams.push_back(text);
    }
    return streams;
}

std::vector<std::string> alphaVP9(int64_t w, int64_t h, Sound sound) {
    std::vector<std::string> streams{"video vp9 " + std::to_string(w) + "×" + std::to_string(h) + " ALPHA_MODE=1"};
    if (sound == Sound::with) streams.push_back("audio opus");
    return streams;
}

// The alpha plane of the first picture, decoded with the decoder that reads it, row by row.
std::string alphaOfFirstPicture(const fs::path& file) {
    return runProgram(ffmpeg().string(),
                      {"-v", "error", "-nostdin", "-c:v", "libvpx-vp9", "-i", file.string(), "-frames:v", "1", "-vf",
                       "alphaextract", "-f", "rawvideo", "-pix_fmt", "gray", "pipe:1"});
}

// Master pixels are half transparent (127); padding is fully transparent.
constexpr int halfOpaque = 127;
constexpr int tolerance = 6;

// The alpha value at (x, y) of a plane w samples wide.
int alphaAt(const std::string& plane, int64_t w, int64_t x, int64_t y) { return uint8_t(plane.at(size_t(y * w + x))); }

TEST(AlphaEncodeMake, MakesTheMainFileWithSoundAndStripsWithout) {
    const MasterInfo info = FFDecode::probe(masters().wide);
    ASSERT_TRUE(info.audio);
    const LadderPlan plan = alphaPlan(3842, 16);
    ASSERT_EQ(plan.strips.size(), 3u);
    TempFolder into;
    expectProgressEndingAt99(makeAll(masters().wide, info, plan, into.path()));
    EXPECT_EQ(streamsOf(into / plan.file), alphaVP9(3840, 16, Sound::with));
    for (const LadderPlan::Strip& strip : plan.strips)
        EXPECT_EQ(streamsOf(into / strip.file), alphaVP9(1536, 16, Sound::without)) << strip.file;
}

TEST(AlphaEncodeMake, PadsAStripPastTheMastersEdgeWithTransparency) {
    const LadderPlan plan =
        packagePlan({3842, 16}, {3840, 16}, {{"left.webm", 0, 2048}, {"right.webm", 2048, 2048}}, {2048, 16});
    TempFolder into;
    makeAll(masters().wideSilent, FFDecode::probe(masters().wideSilent), plan, into.path());
    EXPECT_EQ(streamsOf(into / "wide.webm"), alphaVP9(3840, 16, Sound::without));
    EXPECT_EQ(streamsOf(into / "left.webm"), alphaVP9(2048, 16, Sound::without));
    EXPECT_EQ(streamsOf(into / "right.webm"), alphaVP9(2048, 16, Sound::without));
    // The master ends 1794 pixels into the right strip.
    const std::string alpha = alphaOfFirstPicture(into / "right.webm");
    ASSERT_EQ(alpha.size(), 2048u * 16);
    for (int64_t y : {0, 8, 15}) {
        EXPECT_NEAR(alphaAt(alpha, 2048, 1700, y), halfOpaque, tolerance);
        EXPECT_LE(alphaAt(alpha, 2048, 1900, y), 2);
        EXPECT_LE(alphaAt(alpha, 2048, 2047, y), 2);
    }
}

TEST(AlphaEncodeMake, PadsAnOddMasterToEvenSizesWithTransparency) {
    const MasterInfo info = FFDecode::probe(masters().odd);
    ASSERT_EQ(info.w, 33);
    const LadderPlan plan = alphaPlan(33, 17);
    TempFolder into;
    expectProgressEndingAt99(makeAll(masters().odd, info, plan, into.path()));
    EXPECT_EQ(streamsOf(into / "clip.webm"), alphaVP9(34, 18, Sound::with));
    const std::string alpha = alphaOfFirstPicture(into / "clip.webm");
    ASSERT_EQ(alpha.size(), 34u * 18);
    for (int64_t y = 0; y < 17; ++y) {
        EXPECT_NEAR(alphaAt(alpha, 34, 0, y), halfOpaque, tolerance);
        EXPECT_NEAR(alphaAt(alpha, 34, 32, y), halfOpaque, tolerance);
        EXPECT_LE(alphaAt(alpha, 34, 33, y), 2) << "row " << y;
    }
    for (int64_t x = 0; x < 34; ++x)
        EXPECT_LE(alphaAt(alpha, 34, x, 17), 2) << "column " << x;
}

TEST(AlphaEncodeMake, MakesAMasterExactly4096TallAndTellsItsTwoPictures) {
    TempFolder into;
    EXPECT_EQ(AlphaEncode::make(
                  masters().tall, FFDecode::probe(masters().tall), alphaPlan(16, 4096), into.path(), [](double) {},
                  [] { return false; }),
              2);
    EXPECT_EQ(streamsOf(into / "clip.webm"), alphaVP9(16, 4096, Sound::without));
}

TEST(AlphaEncodeMake, WithADurationOfZeroReportsOnlyTheEnd) {
    MasterInfo info = FFDecode::probe(masters().odd);
    info.duration = 0;
    TempFolder into;
    EXPECT_EQ(makeAll(masters().odd, info, alphaPlan(33, 17), into.path()), std::vector<double>{0.99});
}

TEST(AlphaEncodeMake, AMasterFFmpegCannotReadFailsWithItsWords) {
    TempFolder temp;
    writeFile(temp / "notes.mkv", "these are not pictures");
    const LadderPlan plan = alphaPlan(3842, 16);
    try {
        makeAll(temp / "notes.mkv", infoOf(3842, 16), plan, temp.path());
        ADD_FAILURE() << "made something of a text file";
    } catch (const TrelkError& error) {
        EXPECT_THAT(error.message, testing::StartsWith("couldn't make the alpha video: "));
        EXPECT_THAT(error.message, testing::EndsWith("Invalid data found when processing input"));
    }
    EXPECT_FALSE(anyExists(outputsOf(plan, temp.path())));
}

// ---- cancelling ----


// Script lines that leave the shell's pid in "$0.pid", whole, then become the given command.
std::string recordPidThenRun(const std::string& command) {
    return "echo $$ > \"$0.pid.new\" && mv \"$0.pid.new\" \"$0.pid\"\nexec " + command;
}

bool stillRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

pid_t recordedPid(const fs::path& script) { return pid_t(std::stol(readFile(script.string() + ".pid"))); }

TEST(AlphaEncodeCancel, StopsFFmpegAtOnceAndLeavesNothing) {
    TempFolder temp;
    // Had the cancel not stopped it, the stand-in would sleep on and then leave a mark.
    const fs::path program =
        script(temp / "ffmpeg", touchOutputs + "\n" + recordPidThenRun("sh -c 'sleep 30; : > \"$0.finished\"' \"$0\""));
    const ScopedEnvironment chosen("TRELK_FFMPEG", program.string());
    const LadderPlan plan = alphaPlan(3842, 16);
    const auto cancelled = [&] { return fs::exists(program.string() + ".pid"); };
    EXPECT_THROW(makeAll(temp / "clip.mkv", infoOf(3842, 16), plan, temp.path(), cancelled), CancellationError);
    EXPECT_FALSE(stillRuns(recordedPid(program)));
    EXPECT_FALSE(fs::exists(program.string() + ".finished"));
    EXPECT_FALSE(anyExists(outputsOf(plan, temp.path())));
}

TEST(AlphaEncodeMake, AFailingProgressCallbackStopsFFmpegAndEverythingItStarted) {
    TempFolder temp;
    const fs::path program = script(temp / "ffmpeg", "echo out_time_us=1000000\nsleep 30\n: > \"$0.finished\"");
    const ScopedEnvironment chosen("TRELK_FFMPEG", program.string());
    const LadderPlan plan = alphaPlan(64, 16);
    EXPECT_THROW(AlphaEncode::make(
                     temp / "clip.mkv", infoOf(64, 16), plan, temp.path(),
                     [](double) { throw std::runtime_error("the progress display went away"); }, [] { return false; }),
                 std::runtime_error);
    EXPECT_FALSE(fs::exists(program.string() + ".finished"));
}

TEST(AlphaEncodeCancel, StopsARealRunPartWay) {
    TempFolder temp;
    const fs::path master = makeMaster(temp / "long.mkv", "320x180", Sound::without, "r=25:d=10");
    const MasterInfo info = FFDecode::probe(master);
    const fs::path program = script(temp / "ffmpeg", recordPidThenRun("'" + ffmpeg().string() + "' \"$@\""));
    const ScopedEnvironment chosen("TRELK_FFMPEG", (program).string());
    const LadderPlan plan = alphaPlan(320, 180);
    std::atomic<bool> started = false;
    std::vector<double> reported;
    const auto progress = [&](double fraction) {
        reported.push_back(fraction);
        started = true;
    };
    EXPECT_THROW(AlphaEncode::make(master, info, plan, temp.path(), progress, [&] { return started.load(); }),
                 CancellationError);
    EXPECT_FALSE(stillRuns(recordedPid(program)));
    EXPECT_FALSE(fs::exists(temp / plan.file));
    ASSERT_FALSE(reported.empty());
    EXPECT_LT(reported.back(), 0.99);
}

TEST(AlphaEncodeMake, LeavesNoDescriptorOpen) {
    const auto openDescriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    masters(); // made before counting
    const auto before = openDescriptors();
    TempFolder temp;
    const LadderPlan plan = alphaPlan(33, 17);
    makeAll(masters().odd, FFDecode::probe(masters().odd), plan, temp.path());
    {
        const ScopedEnvironment failing("TRELK_FFMPEG", (script(temp / "failing", "echo oh no >&2\nexit 1")).string());
        EXPECT_THROW(makeAll(masters().odd, infoOf(33, 17), plan, temp.path()), TrelkError);
    }
    {
        const ScopedEnvironment sleeping("TRELK_FFMPEG", (script(temp / "sleeping", "exec sleep 30")).string());
        EXPECT_THROW(makeAll(masters().odd, infoOf(33, 17), plan, temp.path(), [] { return true; }), CancellationError);
    }
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
