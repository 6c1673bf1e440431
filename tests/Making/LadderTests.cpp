#include "TrelkCore/Making/Ladder.h"

#include "TrelkCore/Library/Package.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using json = nlohmann::json;
using Strip = LadderPlan::Strip;

void PrintTo(const LadderPlan::Size& size, std::ostream* out) { *out << size.w << " × " << size.h; }

namespace {

constexpr int64_t stripWidth = 1536;
constexpr int64_t overlap = 128;

LadderPlan planOf(int64_t w, int64_t h, LadderPlan::Alpha alpha = LadderPlan::Alpha::no) {
    return LadderPlan::plan("clip", w, h, stripWidth, overlap, alpha);
}

std::vector<int64_t> xs(const LadderPlan& plan) {
    std::vector<int64_t> result;
    for (const Strip& strip : plan.strips)
        result.push_back(strip.x);
    return result;
}

// Strips sorted and even, from 0 to the right edge (an odd master's one column beyond it),
// overlapping as promised.
testing::AssertionResult coversTheMaster(const LadderPlan& plan) {
    const int64_t w = plan.master.w, sw = plan.stripSize.w;
    if (plan.strips.empty() || plan.strips.front().x != 0) return testing::AssertionFailure() << "no strip at 0";
    const Strip& last = plan.strips.back();
    if (last.x + sw < w || last.x + sw > w + w % 2)
        return testing::AssertionFailure() << "last strip ends at " << last.x + sw;
    for (size_t i = 0; i < plan.strips.size(); ++i) {
        const Strip& strip = plan.strips[i];
        if (strip.x % 2 != 0 || strip.w != sw) return testing::AssertionFailure() << "strip " << i << " at " << strip.x;
        if (i > 0 && (strip.x <= plan.strips[i - 1].x || plan.strips[i - 1].x + sw - strip.x < plan.overlapMin))
            return testing::AssertionFailure() << "strips " << i - 1 << " and " << i << " at " << strip.x;
    }
    return testing::AssertionSuccess();
}

MasterInfo workedInfo() {
    MasterInfo info;
    info.w = 7680;
    info.h = 1080;
    info.fps = 30000.0 / 1001;
    info.fpsText = "30000/1001";
    info.frames = 300;
    info.duration = 10.01;
    info.codec = "apch";
    info.audio = true;
    info.color = {"ITU_R_709_2", "ITU_R_709_2", "ITU_R_601_4"};
    return info;
}

const std::chrono::system_clock::time_point createdAt =
    std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + std::chrono::hours{10} + std::chrono::milliseconds{750};

// Every made file has a size of its own, so a mix-up shows.
int64_t fakeBytes(const std::string& file) { return int64_t(file.size()) * 1000; }

std::string manifestOf(const LadderPlan& plan, std::string_view name = "clip.mov",
                       const MasterInfo& info = workedInfo()) {
    return plan.manifestData(name, info, fakeBytes, "encoder · test", createdAt);
}

TEST(LadderPlan, CutsTheWorkedExampleIntoSixStrips) {
    const LadderPlan plan = planOf(7680, 1080);
    EXPECT_TRUE(plan.isPackage());
    EXPECT_EQ(plan.master, (LadderPlan::Size{7680, 1080}));
    EXPECT_EQ(plan.file, "clip.wide-7680x1080.mp4");
    EXPECT_EQ(plan.size, (LadderPlan::Size{3840, 540}));
    EXPECT_EQ(xs(plan), (std::vector<int64_t>{0, 1228, 2456, 3686, 4914, 6144}));
    EXPECT_EQ(plan.strips.front(), (Strip{"clip.strip-x00000-w1536.mp4", 0, 1536}));
    EXPECT_EQ(plan.strips[3].file, "clip.strip-x03686-w1536.mp4");
    EXPECT_EQ(plan.strips.back(), (Strip{"clip.strip-x06144-w1536.mp4", 6144, 1536}));
    EXPECT_EQ(plan.stripSize, (LadderPlan::Size{1536, 1080}));
    EXPECT_EQ(plan.overlapMin, 128);
    EXPECT_FALSE(plan.alpha);
    EXPECT_EQ(plan.manifest(), "clip.vorlane.json");
}

TEST(LadderPlan, MakesOneEvenFileUpTo3840AndAPackageBeyond) {
    struct Case {
        int64_t w, h;
        std::string file;
        LadderPlan::Size size;
        size_t strips;
        LadderPlan::Size stripSize;
    };
    const std::vector<Case> cases = {
        {3840, 2160, "clip.mp4", {3840, 2160}, 0, {0, 0}},
        {1919, 1079, "clip.mp4", {1920, 1080}, 0, {0, 0}},
        {1, 1, "clip.mp4", {2, 2}, 0, {0, 0}},
        {3842, 1080, "clip.wide-3842x1080.mp4", {3840, 1080}, 3, {1536, 1080}},
        {4000, 1001, "clip.wide-4000x1001.mp4", {3840, 960}, 3, {1536, 1002}},
        {1 << 20, 1 << 20, "clip.wide-1048576x1048576.mp4", {3840, 3840}, 745, {1536, 1 << 20}},
    };
    for (const Case& c : cases) {
        const LadderPlan plan = planOf(c.w, c.h);
        EXPECT_EQ(plan.file, c.file) << c.w;
        EXPECT_EQ(plan.size, c.size) << c.w;
        EXPECT_EQ(plan.strips.size(), c.strips) << c.w;
        EXPECT_EQ(plan.stripSize, c.stripSize) << c.w;
        EXPECT_EQ(plan.overlapMin, c.strips ? 128 : 0) << c.w;
        EXPECT_EQ(plan.isPackage(), c.strips > 0) << c.w;
    }
}

TEST(LadderPlan, AlphaPlansMakeWebM) {
    EXPECT_EQ(planOf(1920, 1080, LadderPlan::Alpha::yes).file, "clip.webm");
    const LadderPlan package = planOf(7680, 1080, LadderPlan::Alpha::yes);
    EXPECT_TRUE(package.alpha);
    EXPECT_EQ(package.file, "clip.wide-7680x1080.webm");
    EXPECT_EQ(package.strips.back().file, "clip.strip-x06144-w1536.webm");
}

TEST(LadderPlan, StripWiderThanTheMasterIsOneStripOfTheMaster) {
    const std::vector<Strip> one = {{"clip.strip-x00000-w5000.mp4", 0, 5000}};
    EXPECT_EQ(LadderPlan::plan("clip", 5000, 1000, 8000, 128, LadderPlan::Alpha::no).strips, one);
    // Odd: the strip reaches one column past the master, so that its last column is in it.
    const std::vector<Strip> wider = {{"clip.strip-x00000-w5002.mp4", 0, 5002}};
    EXPECT_EQ(LadderPlan::plan("clip", 5001, 1000, 8000, 128, LadderPlan::Alpha::no).strips, wider);
}

TEST(LadderPlan, StepsAtLeast2AndPromisesNoMoreOverlapThanThat) {
    const LadderPlan whole = LadderPlan::plan("clip", 7680, 1080, 1536, 1536, LadderPlan::Alpha::no);
    EXPECT_EQ(whole.overlapMin, 1534);
    EXPECT_EQ(whole.strips[1].x - whole.strips[0].x, 2);
    const int64_t most = std::numeric_limits<int64_t>::max(), least = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(LadderPlan::plan("clip", 7680, 1080, 1536, most, LadderPlan::Alpha::no), whole);
    EXPECT_EQ(LadderPlan::plan("clip", 7680, 1080, 1536, -500, LadderPlan::Alpha::no).overlapMin, 0);
    const LadderPlan narrow = LadderPlan::plan("clip", 4000, 10, least, 0, LadderPlan::Alpha::no);
    EXPECT_EQ(narrow.stripSize, (LadderPlan::Size{2, 10}));
    EXPECT_EQ(narrow.strips.size(), 2000u);
}

TEST(LadderPlan, StripsCoverEveryWidth) {
    struct Cut {
        int64_t stripWidth, overlap;
    };
    const int64_t most = std::numeric_limits<int64_t>::max();
    for (const Cut cut : {Cut{1536, 128}, Cut{1537, 129}, Cut{4000, 100}, Cut{1536, 1535}, Cut{64, 16}, Cut{1536, -500},
                          Cut{1536, most}})
        for (int64_t w = 3841; w <= 6000; ++w) {
            const LadderPlan plan =
                LadderPlan::plan("clip", w, 100, cut.stripWidth, cut.overlap, LadderPlan::Alpha::no);
            ASSERT_TRUE(coversTheMaster(plan)) << w << " cut " << cut.stripWidth << "/" << cut.overlap;
        }
    for (const int64_t w : {(1 << 20) - 1, 1 << 20, 123457, 7681, 5761})
        ASSERT_TRUE(coversTheMaster(planOf(w, 1080))) << w;
}

TEST(LadderPlan, PicturesWithoutAreaOrBeyondAnyProbeHaveNothingToMake) {
    const int64_t most = std::numeric_limits<int64_t>::max(), least = std::numeric_limits<int64_t>::min();
    const std::vector<std::pair<int64_t, int64_t>> sizes = {{0, 1080},     {1920, 0},      {-1, -1},
                                                            {7680, -1080}, {least, least}, {(1 << 20) + 1, 1080},
                                                            {1920, most},  {most, most}};
    for (const auto& [w, h] : sizes) {
        const LadderPlan plan = planOf(w, h);
        EXPECT_EQ(plan.master, (LadderPlan::Size{w, h}));
        EXPECT_EQ(plan.file, "clip.mp4") << w << " × " << h;
        EXPECT_EQ(plan.size, (LadderPlan::Size{0, 0})) << w << " × " << h;
        EXPECT_TRUE(plan.strips.empty()) << w << " × " << h;
    }
}

TEST(LadderBase, IsAStemThatNoMadeFileCanHave) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"clip.mov", "clip"},
        {".hidden.mov", "hidden"},
        {"a.wide-1.mp4", "a-wide-1"},
        {"a.strip-x00000-w1536.mp4", "a-strip-x00000-w1536"},
        {"a.wide-b.strip-c.mov", "a-wide-b-strip-c"},
        {"a:b/c.mov", "a-b-c"},
        {"show.final.mov", "show.final"}, // only the last extension goes
        {"clip", "clip"},
        {"clip.", "clip"},
        {".mov", "mov"}, // a hidden name without extension
        {"...clip.mov", "clip"},
        {".wide-1.mp4", "-wide-1"},
        {"", "master"},
        {"..", "master"},
        {"...", "master"},
        {"..mov", "master"},
        {"Caf\xC3\xA9.MOV", "Caf\xC3\xA9"},
    };
    for (const auto& [name, base] : cases)
        EXPECT_EQ(Ladder::base(name), base) << name;
}

TEST(LadderUsableAsIs, TakesSmallH264AndAlphaVP9AsTheyAre) {
    struct Case {
        std::string codec;
        int64_t w, h;
        bool alpha;
        std::string extension;
        bool usable;
    };
    const std::vector<Case> cases = {
        {"avc1", 3840, 2160, false, "mp4", true},     {"avc3", 2160, 3840, false, "MOV", true},
        {"avc1", 4096, 2304, false, "mp4", false},    {"avc1", 3840, 2458, false, "m4v", false}, // over 4096 × 2304
        {"avc1", 3840, 2457, false, "m4v", true},     {"avc1", 1920, 1080, false, "mkv", false},
        {"hvc1", 1920, 1080, false, "mp4", false},    {"hev1", 640, 360, false, "mov", false},
        {"ff:h264", 1920, 1080, false, "mp4", false}, {"avc1", 0, 1080, false, "mp4", false},
        {"ff:vp9", 3840, 4096, true, "webm", true},   {"ff:vp9", 3840, 4098, true, "WebM", false},
        {"ff:vp9", 3842, 100, true, "webm", false},   {"ff:vp9", 1920, 1080, false, "webm", false},
        {"ff:vp9", 1920, 1080, true, "mkv", false},   {"avc1", 1920, 1080, true, "mp4", true},
    };
    for (const Case& c : cases) {
        MasterInfo info;
        info.codec = c.codec;
        info.w = c.w;
        info.h = c.h;
        info.alpha = c.alpha;
        info.profile = "High";
        info.pixelFormat = "yuv420p";
        EXPECT_EQ(Ladder::usableAsIs(info, c.extension), c.usable) << c.codec << " " << c.w << " × " << c.h;
    }
}

TEST(LadderUsableAsIs, TakesOnlyTheH264BrowsersDecode) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"High", "yuv420p", true},
        {"Main", "yuvj420p", true},
        {"Constrained Baseline", "yuv420p", true},
        {"Baseline", "yuv420p", true},
        {"High 4:2:2 Intra", "yuv422p10le", false},
        {"High 10", "yuv420p10le", false},
        {"High 4:4:4 Predictive", "yuv444p", false},
        {"High", "yuv422p", false},
        {"Extended", "yuv420p", false},
        {"", "yuv420p", false}, // a probe that could not tell
        {"High", "", false},
    };
    for (const auto& [profile, pixelFormat, usable] : cases) {
        MasterInfo info;
        info.codec = "avc1";
        info.w = 1920;
        info.h = 1080;
        info.profile = profile;
        info.pixelFormat = pixelFormat;
        EXPECT_EQ(Ladder::usableAsIs(info, "mp4"), usable) << profile << " " << pixelFormat;
    }
}

TEST(MasterInfo, NamesCodecFamilies) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"avc1", "h264"},   {"avc3", "h264"},     {"hvc1", "hevc"},   {"hev1", "hevc"},   {"apco", "prores"},
        {"apcs", "prores"}, {"apcn", "prores"},   {"apch", "prores"}, {"ap4h", "prores"}, {"ap4x", "prores"},
        {"AVC1", "AVC1"},   {"ff:vp9", "ff:vp9"}, {"", ""},
    };
    for (const auto& [codec, name] : cases) {
        MasterInfo info;
        info.codec = codec;
        EXPECT_EQ(info.codecName(), name) << codec;
    }
}

TEST(MasterInfo, SdrNeedsAllThreeTagsStandard) {
    EXPECT_EQ(MasterInfo::Color::bt709(), (MasterInfo::Color{"ITU_R_709_2", "ITU_R_709_2", "ITU_R_709_2"}));
    for (const char* primaries : {"ITU_R_709_2", "SMPTE_C", "EBU_3213"})
        for (const char* transfer : {"ITU_R_709_2", "SMPTE_170M_1999"})
            for (const char* matrix : {"ITU_R_709_2", "ITU_R_601_4", "SMPTE_240M_1995"})
                EXPECT_TRUE(MasterInfo::sdr(primaries, transfer, matrix)) << primaries << transfer << matrix;
    EXPECT_FALSE(MasterInfo::sdr("ITU_R_2020", "ITU_R_709_2", "ITU_R_709_2"));
    EXPECT_FALSE(MasterInfo::sdr("ITU_R_709_2", "SMPTE_ST_2084_PQ", "ITU_R_709_2"));
    EXPECT_FALSE(MasterInfo::sdr("ITU_R_709_2", "ITU_R_709_2", "ITU_R_2020"));
    EXPECT_FALSE(MasterInfo::sdr("SMPTE_170M_1999", "EBU_3213", "SMPTE_C")); // tags of the wrong kind
    EXPECT_FALSE(MasterInfo::sdr("", "", ""));
}

TEST(MasterInfo, JsonKeysAreTheFieldNames) {
    MasterInfo info = workedInfo();
    info.alpha = true;
    EXPECT_EQ(info.json(), json::parse(R"({"w": 7680, "h": 1080, "fps": 29.97002997002997, "fpsText": "30000/1001",
        "frames": 300, "duration": 10.01, "codec": "apch", "audio": true, "alpha": true,
        "color": {"primaries": "ITU_R_709_2", "transfer": "ITU_R_709_2", "matrix": "ITU_R_601_4"}})"));
}

TEST(LadderManifest, WritesEveryKeyOfThePackage) {
    const LadderPlan plan = planOf(7680, 1080);
    const std::string text = manifestOf(plan);
    EXPECT_NE(text.find("{\n  \"createdAt\": \"2026-12-09T10:00:00Z\",\n  \"encoder\""), std::string::npos) << text;
    json expected = json::parse(R"({
        "format": "vorlane-previs", "version": 1, "overlapMin": 128, "encoder": "encoder · test",
        "createdAt": "2026-12-09T10:00:00Z",
        "master": {"name": "clip.mov", "w": 7680, "h": 1080, "fps": "30000/1001", "frames": 300, "duration": 10.01,
                   "codec": "prores", "audio": true,
                   "color": {"primaries": "ITU_R_709_2", "transfer": "ITU_R_709_2", "space": "ITU_R_601_4",
                             "range": "tv"}},
        "wide": {"file": "clip.wide-7680x1080.mp4", "w": 3840, "h": 540, "bytes": 23000, "sha256": ""},
        "strips": []})");
    for (const Strip& strip : plan.strips)
        expected["strips"].push_back(
            {{"file", strip.file}, {"x", strip.x}, {"w", 1536}, {"h", 1080}, {"bytes", 27000}, {"sha256", ""}});
    EXPECT_EQ(json::parse(text), expected);
}

TEST(LadderManifest, MarksAlphaOnlyWhenThere) {
    EXPECT_FALSE(json::parse(manifestOf(planOf(7680, 1080))).contains("alpha"));
    EXPECT_EQ(json::parse(manifestOf(planOf(7680, 1080, LadderPlan::Alpha::yes)))["alpha"], true);
    EXPECT_EQ(json::parse(manifestOf(planOf(1920, 1080)))["strips"], json::array());
}

TEST(LadderManifest, IsEmptyWhenItCannotBeWritten) {
    EXPECT_EQ(manifestOf(planOf(7680, 1080), "clip\xFF.mov"), "");
    EXPECT_EQ(LadderPlan::plan("clip\xC3", 7680, 1080, 1536, 128, LadderPlan::Alpha::no)
                  .manifestData("clip.mov", workedInfo(), fakeBytes, "e", createdAt),
              "");
    MasterInfo endless = workedInfo();
    endless.duration = std::numeric_limits<double>::infinity();
    EXPECT_EQ(manifestOf(planOf(7680, 1080), "clip.mov", endless), "");
}

TEST(LadderManifest, IsReadBackByTheLibrary) {
    TempFolder folder;
    const LadderPlan plan = planOf(7680, 1080);
    writeFile(folder / plan.file, "");
    for (const Strip& strip : plan.strips)
        writeFile(folder / strip.file, "");
    writeFile(folder / plan.manifest(), manifestOf(plan));

    const std::optional<Library::Package> package = Library::package(folder / plan.manifest());
    ASSERT_TRUE(package);
    EXPECT_EQ(package->name, "clip.mov");
    EXPECT_EQ(package->wide, plan.file);
    EXPECT_EQ(package->master, plan.master);
    std::vector<LadderPlan::Strip> strips;
    for (const Strip& strip : plan.strips)
        strips.push_back({strip.file, strip.x, strip.w});
    EXPECT_EQ(package->strips, strips);
    ASSERT_TRUE(package->fps);
    EXPECT_DOUBLE_EQ(*package->fps, 30000.0 / 1001);
}

} // namespace
