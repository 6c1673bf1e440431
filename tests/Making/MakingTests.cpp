#include "TrelkCore/Making/Making.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Library/Package.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int64_t picturesMade = 2;

// An H.264 MP4 of two black pictures of that size, made once per size.
const fs::path& madeVideo(LadderPlan::Size size) {
    static const TempFolder folder;
    static std::map<std::pair<int64_t, int64_t>, fs::path> made;
    const std::string name = std::to_string(size.w) + "x" + std::to_string(size.h);
    auto [found, added] = made.try_emplace({size.w, size.h}, folder / (name + ".mp4"));
    if (added)
        TestMedia::video(found->second, int(size.w), int(size.h),
                         {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast"}, picturesMade);
    return found->second;
}

// An engine that writes every planned file as a short video of its planned size.
class PlanWriter : public LadderEngine {
public:
    explicit PlanWriter(MasterInfo info) : info(std::move(info)) {}

    MasterInfo probe(const fs::path&) override { return info; } // not asked: the facts come with the call
    int64_t make(const fs::path&, const MasterInfo&, const LadderPlan& plan, const fs::path& into,
                 const Progress& progress, const Cancelled& cancelled) override {
        planned = plan;
        fs::copy_file(madeVideo(plan.size), into / plan.file);
        if (cutsMainFile) fs::resize_file(into / plan.file, fs::file_size(into / plan.file) * 2 / 3);
        if (cancelled()) throw CancellationError(); // with one file made
        for (const LadderPlan::Strip& strip : plan.strips)
            fs::copy_file(madeVideo(plan.stripSize), into / strip.file);
        writeFile(into / "clip.sb-scratch", "left over");
        progress(0.5);
        return claimed;
    }

    MasterInfo info;
    std::optional<LadderPlan> planned;
    int64_t claimed = picturesMade; // the pictures it says it wrote into each file
    bool cutsMainFile = false;
};

MasterInfo h264(int64_t w, int64_t h) {
    MasterInfo info;
    info.w = w;
    info.h = h;
    info.fps = 25;
    info.fpsText = "25";
    info.frames = 50;
    info.duration = 2;
    info.codec = "avc1";
    info.color = MasterInfo::Color::bt709();
    info.profile = "High";
    info.pixelFormat = "yuv420p";
    return info;
}

class MakingTest : public testing::Test {
protected:
    Making::Made make(PlanWriter& engine, Making::Transfer transfer = Making::Transfer::copy,
                      LadderEngine::Cancelled cancelled = [] { return false; }) {
        return Making::video(engine, master, engine.info, folder / "out", transfer, "test encoder", [](double) {},
                             cancelled);
    }

    void SetUp() override { writeFile(master, "the master"); }

    TempFolder folder;
    fs::path master = folder / "clip.mov";
};

TEST_F(MakingTest, AMasterUsableAsItIsIsCopiedOrLinkedAndStays) {
    PlanWriter engine(h264(1920, 1080));
    Making::Made made = make(engine);
    EXPECT_FALSE(engine.planned) << "nothing is encoded";
    EXPECT_EQ(made.files, std::vector<std::string>{"clip.mov"});
    EXPECT_EQ(readFile(folder / "out" / "clip.mov"), "the master");
    EXPECT_EQ(fs::hard_link_count(master), 1u);
    EXPECT_THROW(make(engine), std::system_error) << "never over a file already there";
    EXPECT_EQ(readFile(folder / "out" / "clip.mov"), "the master");
    fs::remove(folder / "out" / "clip.mov");
    make(engine, Making::Transfer::link);
    EXPECT_EQ(fs::hard_link_count(master), 2u);
}

TEST_F(MakingTest, AnotherCodecIsPlannedAndMadeIntoOneFile) {
    MasterInfo info = h264(1919, 1079);
    info.codec = "apcn";
    PlanWriter engine(info);
    Making::Made made = make(engine);
    ASSERT_TRUE(engine.planned);
    EXPECT_EQ(engine.planned->size, (LadderPlan::Size{1920, 1080}));
    EXPECT_EQ(made.files, std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(made.madeFile, "clip.mp4");
    EXPECT_FALSE(fs::exists(folder / "out" / "clip.sb-scratch")) << "scratch files are cleared";
}

TEST_F(MakingTest, AWideMasterBecomesAPackageWithItsManifest) {
    PlanWriter engine(h264(7680, 1080));
    Making::Made made = make(engine);
    ASSERT_TRUE(engine.planned);
    EXPECT_EQ(engine.planned->strips.size(), 6u) << "strips of 1536 overlapping by 128";
    EXPECT_EQ(made.madeFile, "clip.vorlane.json");
    EXPECT_EQ(made.files.size(), 8u);
    const nlohmann::json manifest = nlohmann::json::parse(readFile(folder / "out" / "clip.vorlane.json"));
    EXPECT_EQ(manifest.at("encoder"), "test encoder");
    EXPECT_EQ(manifest.at("master").at("name"), "clip.mov");
    EXPECT_EQ(manifest.at("wide").at("bytes"), fs::file_size(folder / "out" / engine.planned->file));
    EXPECT_TRUE(Library::package(folder / "out" / "clip.vorlane.json")) << "the library reads it back";
    std::set<std::string> inPlace;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder / "out"))
        inPlace.insert(entry.path().filename());
    EXPECT_EQ(inPlace, std::set<std::string>(made.files.begin(), made.files.end())) << "and no work folder";
}

TEST_F(MakingTest, AFileCutShortOrACountOffByMoreThanOneFailsAndLeavesNothing) {
    const auto notWhole = testing::ThrowsMessage<TrelkError>(testing::StrEq("the made file is not whole · clip.mp4"));
    PlanWriter cut(h264(7680, 1080));
    cut.cutsMainFile = true;
    EXPECT_THAT([&] { make(cut); }, testing::ThrowsMessage<TrelkError>(
                                        testing::StrEq("the made file is not whole · clip.wide-7680x1080.mp4")));
    EXPECT_TRUE(fs::is_empty(folder / "out")) << "no strip, no manifest, no work folder";

    MasterInfo info = h264(64, 36);
    info.codec = "apcn";
    PlanWriter miscounted(info);
    miscounted.claimed = picturesMade + 2;
    EXPECT_THAT([&] { make(miscounted); }, notWhole);
    miscounted.claimed = picturesMade + 1;
    EXPECT_NO_THROW(make(miscounted)) << "within one";

    // What the ffmpeg program decodes is also held to the master's length: five pictures here.
    fs::remove(folder / "out" / "clip.mp4");
    TestMedia::video(master, 64, 36, {"-c:v", "libx264"}, 5);
    info.codec = "ff:h264";
    PlanWriter shortOfTheMaster(info);
    EXPECT_THAT([&] { make(shortOfTheMaster); }, notWhole);
    EXPECT_TRUE(fs::is_empty(folder / "out"));
}

TEST_F(MakingTest, ACancelIsPassedOnAndLeavesNothing) {
    PlanWriter engine(h264(7680, 1080));
    EXPECT_THROW(make(engine, Making::Transfer::copy, [] { return true; }), CancellationError);
    EXPECT_TRUE(fs::is_empty(folder / "out")) << "no work folder, no half-made file, no manifest";
}

} // namespace
