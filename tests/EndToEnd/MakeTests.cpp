// `vorlane-trelk make` on masters made here with the real ffmpeg.
#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"
#include "tests/support/Eventually.h"
#include "tests/support/Levels.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void makeMaster(const fs::path& master, const std::string& source, const std::string& codec) {
    runProgram(FFDecode::path().value(),
               {"-v", "error", "-f", "lavfi", "-i", source, "-c:v", codec, "-preset", "ultrafast", master.string()});
    ASSERT_TRUE(fs::exists(master));
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Make, AWideMasterBecomesAPackageTheLibraryLists) {
    TempFolder folder;
    makeMaster(folder / "wide.mkv", "testsrc2=s=3842x16:r=25:d=0.12", "libx264");
    Child child(TRELK_PROGRAM, {"make", (folder / "wide.mkv").string(), "--into", (folder / "out").string()});
    child.closeInput();
    const std::string printed = child.readAll();
    EXPECT_EQ(child.wait(), 0);
    const std::vector<std::string> made{"wide.strip-x00000-w1536.mp4", "wide.strip-x01152-w1536.mp4",
                                        "wide.strip-x02306-w1536.mp4", "wide.vorlane.json",
                                        "wide.wide-3842x16.mp4"};
    EXPECT_EQ(namesIn(folder / "out"), made) << "and no work folder is left";
    for (const std::string& name : made) EXPECT_NE(printed.find(name), std::string::npos) << name;
    const std::vector<Asset> listed = Library::scan(folder / "out");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_TRUE(listed[0].isPackage());
    EXPECT_EQ(listed[0].strips.size(), 3u);
}

TEST(Make, AMasterThatFailsGivesStatusOneAndLeavesNothing) {
    TempFolder folder;
    writeFile(folder / "notes.mov", "not a movie");
    Child child(TRELK_PROGRAM, {"make", (folder / "notes.mov").string(), "--into", (folder / "out").string()});
    child.closeInput();
    EXPECT_EQ(child.readAll(), "");
    EXPECT_EQ(child.wait(), 1);
    EXPECT_FALSE(fs::exists(folder / "out") && !fs::is_empty(folder / "out"));
}

TEST(Make, InTheBackgroundEveryThreadYieldsAndAnInterruptStopsEverythingLeavingNoFile) {
    TempFolder folder;
    makeMaster(folder / "long.mkv", "testsrc2=s=640x360:r=25:d=60", "libx264");
    Child child(TRELK_PROGRAM,
                {"make", (folder / "long.mkv").string(), "--into", (folder / "out").string(), "--background"});
    child.closeInput();
    // Interrupt once the making has begun: its hidden work folder is there.
    ASSERT_TRUE(eventually([&] { return fs::exists(folder / "out") && !fs::is_empty(folder / "out"); }))
        << "the making never began";
    const Levels background = Levels::background(Levels::ofThread(getpid(), gettid()));
    for (const auto& [thread, levels] : Levels::ofThreads(child.id())) EXPECT_EQ(levels, background) << thread;
    child.signal(SIGINT);
    EXPECT_EQ(child.readAll(), "");
    EXPECT_EQ(child.wait(), 1);
    EXPECT_TRUE(fs::is_empty(folder / "out"));
}

TEST(Make, RefusesToReplaceAFileBeforeAnyWorkUnlessForced) {
    TempFolder folder;
    makeMaster(folder / "wide.mkv", "testsrc2=s=3842x16:r=25:d=0.08", "libx264");
    fs::create_directory(folder / "out");
    writeFile(folder / "out" / "wide.vorlane.json", "mine");
    Child refused(TRELK_PROGRAM, {"make", (folder / "wide.mkv").string(), "--into", (folder / "out").string()});
    refused.closeInput();
    EXPECT_EQ(refused.readAll(), "");
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(namesIn(folder / "out"), std::vector<std::string>{"wide.vorlane.json"});
    EXPECT_EQ(readFile(folder / "out" / "wide.vorlane.json"), "mine");

    Child forced(TRELK_PROGRAM,
                 {"make", (folder / "wide.mkv").string(), "--into", (folder / "out").string(), "--force"});
    forced.closeInput();
    forced.readAll();
    EXPECT_EQ(forced.wait(), 0);
    EXPECT_NE(readFile(folder / "out" / "wide.vorlane.json"), "mine");
}

TEST(Make, MakesStillsAsTheServiceDoes) {
    TempFolder folder;
    const std::vector<std::pair<std::string, std::vector<std::string>>> stills = {
        {"photo.png", {}},   {"photo.jpg", {}},   {"photo.webp", {}}, {"deep.png", {"-pix_fmt", "rgb48be"}},
        {"loop.gif", {"-frames:v", "3"}}, {"scan.tiff", {}},
    };
    std::vector<std::string> arguments{"make"};
    for (const auto& [name, more] : stills) {
        std::vector<std::string> making{"-v", "error", "-f", "lavfi", "-i", "testsrc=s=64x36", "-frames:v", "1"};
        making.insert(making.end(), more.begin(), more.end());
        making.push_back((folder / name).string());
        runProgram(FFDecode::path().value(), making);
        arguments.push_back((folder / name).string());
    }
    arguments.insert(arguments.end(), {"--into", (folder / "out").string()});
    Child child(TRELK_PROGRAM, arguments);
    child.closeInput();
    child.readAll();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(namesIn(folder / "out"), (std::vector<std::string>{"deep.png", "loop.gif", "photo.jpg", "photo.png",
                                                                 "photo.webp", "scan.png"}));
    for (const std::string name : {"photo.png", "photo.jpg", "photo.webp", "deep.png", "loop.gif"})
        EXPECT_EQ(readFile(folder / "out" / name), readFile(folder / name)) << name << " is kept as it is";
    EXPECT_TRUE(readFile(folder / "out" / "scan.png").starts_with("\x89PNG")) << "a PNG of the TIFF";
}

TEST(Make, RefusesTwoMastersThatWouldMakeOneFile) {
    TempFolder folder;
    for (const std::string name : {"scan.png", "scan.tiff"})
        runProgram(FFDecode::path().value(), {"-v", "error", "-f", "lavfi", "-i", "testsrc=s=64x36", "-frames:v", "1",
                                              (folder / name).string()});
    Child child(TRELK_PROGRAM, {"make", (folder / "scan.png").string(), (folder / "scan.tiff").string(), "--into",
                                (folder / "out").string(), "--force"});
    child.closeInput();
    EXPECT_EQ(child.readAll(), "");
    EXPECT_EQ(child.wait(), 1);
    EXPECT_FALSE(fs::exists(folder / "out"));
}

TEST(Make, WithoutMastersIsAUsageError) {
    Child child(TRELK_PROGRAM, {"make", "--into", "somewhere"});
    child.closeInput();
    EXPECT_EQ(child.wait(), 2);
}

} // namespace
