// `vorlane-trelk scan` on a library built on disk, as the browser would get it.
#include "TrelkCore/Library/Library.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vips/vips.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

void writePicture(const fs::path& path, int width, int height) {
    ASSERT_EQ(VIPS_INIT("ScanTests"), 0);
    VipsImage* picture = nullptr;
    ASSERT_EQ(vips_black(&picture, width, height, nullptr), 0);
    ASSERT_EQ(vips_pngsave(picture, path.c_str(), nullptr), 0);
    g_object_unref(picture);
}

TEST(Scan, PrintsTheListingOfEveryKindOnOneLine) {
    TempFolder library;
    writeFile(library / "Clip 10.mov", "ten");
    writeFile(library / "clip 9.mp4", "nine!");
    fs::create_directories(library / "Masters");
    writeFile(library / "Masters" / "kept.mov", "not listed");
    writePicture(library / "board.png", 6, 4);

    fs::create_directories(library / "Wide");
    writeFile(library / "Wide" / "Wide.wide-3840x540.mp4", "wide");
    writeFile(library / "Wide" / "Wide.strip-x00000-w1536.mp4", "strip");
    writeFile(library / "Wide" / "Wide.vorlane.json", json{
        {"format", "vorlane-previs"}, {"version", 1},
        {"master", {{"name", "Wide"}, {"fps", "30000/1001"}, {"w", 7680}, {"h", 1080}}},
        {"wide", {{"file", "Wide.wide-3840x540.mp4"}}},
        {"strips", {{{"file", "Wide.strip-x00000-w1536.mp4"}, {"x", 0}, {"w", 1536}}}}}.dump());

    for (std::string side : {"left", "right"}) {
        fs::create_directories(library / ("Show_" + side));
        writeFile(library / ("Show_" + side) / ("Show_" + side + ".mp4"), side);
    }
    writeFile(library / "Show.vorlane-set.json", json{
        {"format", "vorlane-set"}, {"version", 1}, {"name", "Show"}, {"ordered", true},
        {"parts", {{{"dir", "Show_left"}, {"file", "Show_left.mp4"}, {"w", 1920}, {"h", 1080}, {"duration", 10.0}},
                   {{"dir", "Show_right"}, {"file", "Show_right.mp4"}, {"w", 1920}, {"h", 1080}, {"duration", 12.5}}}}}.dump());

    std::string printed = runProgram(TRELK_PROGRAM, {"scan", library.path().string()});
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line";
    json listing = json::parse(printed);
    ASSERT_EQ(listing.size(), 5u);

    std::vector<std::string> names;
    for (const json& asset : listing) names.push_back(asset.at("name"));
    EXPECT_EQ(names, (std::vector<std::string>{"board.png", "clip 9.mp4", "Clip 10.mov", "Show", "Wide"}));

    EXPECT_EQ(listing[0].at("kind"), "still");
    EXPECT_EQ(listing[0].at("w"), 6);
    EXPECT_EQ(listing[1].at("id"), Library::id("clip 9.mp4"));
    EXPECT_EQ(listing[1].at("bytes"), 5);
    EXPECT_EQ(listing[1].at("kind"), "video");
    EXPECT_TRUE(std::string(listing[1].at("modified")).ends_with("Z"));
    EXPECT_EQ(listing[3].at("id"), Library::id("Show.vorlane-set.json"));
    EXPECT_EQ(listing[3].at("kind"), "set");
    EXPECT_EQ(listing[3].at("ordered"), true);
    EXPECT_EQ(listing[3].at("parts")[1], (json{{"file", "Show_right.mp4"}, {"w", 1920}, {"h", 1080}, {"dur", 12.5}}));
    EXPECT_EQ(listing[4].at("kind"), "package");
    EXPECT_EQ(listing[4].at("fps"), 29.97);
    EXPECT_EQ(listing[4].at("strips"), (json{{{"file", "Wide.strip-x00000-w1536.mp4"}, {"x", 0}, {"w", 1536}}}));
    EXPECT_EQ(listing[4].at("bytes"), 9);
}

TEST(Scan, MissingFolderPrintsAnEmptyListing) {
    TempFolder home;
    EXPECT_EQ(runProgram(TRELK_PROGRAM, {"scan", (home / "nowhere").string()}), "[]\n");
}

TEST(Scan, WithoutAFolderScansTheLibraryInTheHomeFolder) {
    TempFolder home;
    fs::create_directories(home / "Movies" / "vorlane Library");
    writeFile(home / "Movies" / "vorlane Library" / "a.mov", "a");
    Child child(TRELK_PROGRAM, {"scan"}, {{"HOME", home.path().string()}});
    child.closeInput();
    json listing = json::parse(child.readAll());
    EXPECT_EQ(child.wait(), 0);
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].at("name"), "a.mov");
}

} // namespace
