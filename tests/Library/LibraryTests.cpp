#include "TrelkCore/Library/Library.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Library/Package.h"
#include "TrelkCore/Library/Removal.h"
#include "TrelkCore/Library/Still.h"
#include "TrelkCore/Library/StillSizes.h"

#include "tests/support/Environment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Thrown.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <vips/vips.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;
using Names = std::vector<std::string>;

// Readable failures: the listing object and where the asset lives.
void PrintTo(const Asset& asset, std::ostream* out) { *out << asset.json().dump() << " in " << asset.folder; }

namespace {

std::chrono::system_clock::time_point at(double secondsSince1970) {
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(secondsSince1970)));
}

double secondsOf(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// Writes a file, making its folders first.
fs::path writeAt(const fs::path& path, std::string_view bytes = "") {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
    return path;
}

void setModified(const fs::path& path, time_t secondsSince1970) {
    const timespec time{secondsSince1970, 0};
    const timespec times[2] = {time, time};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + path.string());
}

Names namesOf(const std::vector<Asset>& assets) {
    Names names;
    for (const Asset& asset : assets)
        names.push_back(asset.name);
    return names;
}


// --- WebM files: only the bytes the alpha test looks at ---------------------------------------

const std::string alphaOn("\x53\xC0\x81\x01", 4);
const std::string alphaOff("\x53\xC0\x81\x00", 4);

// An EBML header, some padding, then rest.
std::string webm(std::string_view rest) {
    return std::string("\x1a\x45\xdf\xa3", 4) + std::string(20, '\0') + std::string(rest);
}

// --- Pictures made with libvips ----------------------------------------------------------------

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Image = std::unique_ptr<VipsImage, Unref>;

void startVips() {
    static const bool started = VIPS_INIT("LibraryTests") == 0;
    if (!started) throw std::runtime_error("libvips did not start");
}

// A black picture of w × h, saved in the format its extension names, with an EXIF orientation.
void savePicture(const fs::path& path, int w, int h, int orientation = 1) {
    startVips();
    VipsImage* made = nullptr;
    if (vips_black(&made, w, h, "bands", 3, nullptr) != 0) throw std::runtime_error(vips_error_buffer());
    const Image black(made);
    // A copy of its own, since the operation cache may share the black image.
    if (vips_copy(black.get(), &made, nullptr) != 0) throw std::runtime_error(vips_error_buffer());
    const Image picture(made);
    if (orientation != 1) vips_image_set_int(picture.get(), VIPS_META_ORIENTATION, orientation);
    fs::create_directories(path.parent_path());
    if (vips_image_write_to_file(picture.get(), path.c_str(), nullptr) != 0)
        throw std::runtime_error("cannot save " + path.string() + ": " + vips_error_buffer());
}

struct PictureFacts {
    int w;
    int h;
    int orientation;
};

// The stored pixel size and orientation, as libvips reads them.
PictureFacts readPicture(const fs::path& path) {
    startVips();
    const Image image(vips_image_new_from_file(path.c_str(), nullptr));
    if (!image) throw std::runtime_error("cannot read " + path.string() + ": " + vips_error_buffer());
    int orientation = 1;
    if (vips_image_get_typeof(image.get(), VIPS_META_ORIENTATION) != 0)
        vips_image_get_int(image.get(), VIPS_META_ORIENTATION, &orientation);
    return {vips_image_get_width(image.get()), vips_image_get_height(image.get()), orientation};
}

// --- A set "Show" of a left and a right part, each in its own folder beside the manifest -------

const std::string showManifestName = "Show.vorlane-set.json";

json setPart(const std::string& dir, const std::string& file) {
    return {{"dir", dir}, {"file", file}, {"w", 1920}, {"h", 1080}, {"duration", 12.5}};
}

json showManifest() {
    return {{"format", "vorlane-set"},
            {"version", 1},
            {"name", "Show"},
            {"ordered", true},
            {"parts", json::array({setPart("Show_left", "Show_left.mp4"), setPart("Show_right", "Show_right.mp4")})}};
}

// The parts: 3 and 5 bytes, the right one newer.
void putShowParts(const fs::path& folder) {
    setModified(writeAt(folder / "Show_left/Show_left.mp4", "LLL"), 1700000000);
    setModified(writeAt(folder / "Show_right/Show_right.mp4", "RRRRR"), 1700000500);
}

// The whole set; its manifest is the newest file, which must not count.
fs::path putShow(const fs::path& folder, const json& manifest = showManifest()) {
    putShowParts(folder);
    const fs::path path = writeAt(folder / showManifestName, manifest.dump(2));
    setModified(path, 1700009999);
    return path;
}

// --- A package "Clip": wide file and two strips beside the manifest -----------------------------

const std::string clipManifestName = "clip.vorlane.json";
const std::string wideName = "clip.wide-7680x1080.mp4";
const std::string stripA = "clip.strip-x00000-w3840.mp4";
const std::string stripB = "clip.strip-x03840-w3840.mp4";
constexpr time_t clipNewest = 1700000600; // stripA's time

json clipManifest() {
    return {{"format", "vorlane-previs"},
            {"version", 1},
            {"master", {{"name", "Clip"}, {"fps", "30000/1001"}, {"w", 7680}, {"h", 1080}}},
            {"wide", {{"file", wideName}, {"w", 3840}, {"h", 540}}},
            {"strips", json::array({{{"file", stripA}, {"x", 0}, {"w", 3840}, {"h", 1080}},
                                    {{"file", stripB}, {"x", 3840}, {"w", 3840}, {"h", 1080}}})}};
}

// The media files: 10, 20 and 30 bytes, the first strip newest.
void putClipFiles(const fs::path& folder) {
    setModified(writeAt(folder / wideName, std::string(10, 'W')), 1700000000);
    setModified(writeAt(folder / stripA, std::string(20, 'A')), clipNewest);
    setModified(writeAt(folder / stripB, std::string(30, 'B')), 1700000300);
}

// The clip's manifest with key set to value, or without key.
// The package's name and frame rate are kept with its master, the rest at the top.
json clipManifestWith(const std::string& key, const std::optional<json>& value) {
    json manifest = clipManifest();
    json& holder = key == "name" || key == "fps" ? manifest["master"] : manifest;
    if (value)
        holder[key] = *value;
    else
        holder.erase(key);
    return manifest;
}

std::string describe(const std::optional<json>& value) { return value ? value->dump() : "absent"; }

fs::path putClipManifest(const fs::path& folder, const json& manifest) {
    const fs::path path = writeAt(folder / clipManifestName, manifest.dump(2));
    setModified(path, 1700009999);
    return path;
}

fs::path putClip(const fs::path& folder, const json& manifest = clipManifest()) {
    putClipFiles(folder);
    return putClipManifest(folder, manifest);
}

// A library folder in a fresh temporary folder, and a folder outside it for links to point at.
class LibraryTest : public ::testing::Test {
protected:
    TempFolder temp;
    const fs::path library = temp / "vorlane Library";
    const fs::path outside = temp / "outside";

    void SetUp() override {
        fs::create_directories(library);
        fs::create_directories(outside);
    }

    fs::path put(const fs::path& relative, std::string_view bytes = "") const {
        return writeAt(library / relative, bytes);
    }
    void link(const fs::path& relative, const fs::path& target) const {
        fs::create_directories((library / relative).parent_path());
        fs::create_symlink(target, library / relative);
    }
    std::vector<Asset> scan() const { return Library::scan(library); }
    Names names() const { return namesOf(scan()); }

    // The one asset the scan lists.
    Asset only() const {
        std::vector<Asset> assets = scan();
        if (assets.size() != 1)
            throw std::runtime_error("the scan listed " + std::to_string(assets.size()) + " assets");
        return assets.front();
    }
};

// ================================================================================================
// The walk of the library folder

using LibraryScan = LibraryTest;

TEST_F(LibraryScan, AnEmptyMissingOrNonFolderLibraryListsNothing) {
    EXPECT_TRUE(scan().empty());
    EXPECT_TRUE(Library::scan(temp / "missing").empty());
    EXPECT_TRUE(Library::scan(writeAt(temp / "a file", "x")).empty());
}

TEST_F(LibraryScan, ListsAPlainVideoWithItsFileFacts) {
    setModified(put("Shows/Opening.MOV", "12345"), 1700000000);
    Asset expected;
    expected.id = Library::id("Shows/Opening.MOV");
    expected.name = expected.file = "Opening.MOV";
    expected.folder = library / "Shows";
    expected.bytes = 5;
    expected.modified = at(1700000000);
    EXPECT_EQ(scan(), std::vector<Asset>{expected});
}

TEST_F(LibraryScan, ListsOnlyVideosWebmFilesAndReadableStills) {
    for (const char* name : {"a.mp4", "b.m4v", "c.mov", "d.webm", "e.mkv", "f.mxf", "g.tif", "h.heic", "notes.txt",
                             "README", "i.vorlane.json", "j.vorlane-set.json"})
        put(name);
    EXPECT_EQ(names(), (Names{"a.mp4", "b.m4v", "c.mov", "d.webm"}));
}

TEST_F(LibraryScan, TellsAlphaWebmFromPlainWebm) {
    put("alpha.webm", webm(alphaOn));
    put("plain.webm", webm(alphaOff));
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"alpha.webm", "plain.webm"}));
    EXPECT_TRUE(assets[0].alpha);
    EXPECT_FALSE(assets[1].alpha);
}

TEST_F(LibraryScan, LeavesOutDropHereAndMastersOnlyDirectlyInTheLibrary) {
    put("Drop here/new.mov");
    put("Masters/kept.mov");
    put("Show/Drop here/a.mov");
    put("Show/Masters/b.mov");
    put("c.mov");
    EXPECT_EQ(names(), (Names{"a.mov", "b.mov", "c.mov"}));
}

TEST_F(LibraryScan, LeavesOutHiddenFilesAndFolders) {
    put(".hidden.mov");
    put(".cache/a.mov");
    put("Show/.b.mov");
    put("Show/c.mov");
    EXPECT_EQ(names(), Names{"c.mov"});
}

TEST_F(LibraryScan, NeverListsOrFollowsSymbolicLinks) {
    put("real.mov");
    writeAt(outside / "secret.mov");
    writeAt(outside / "far/far.mov");
    link("inside.mov", library / "real.mov");
    link("outside.mov", outside / "secret.mov");
    link("far", outside / "far");
    EXPECT_EQ(names(), Names{"real.mov"});
}

// An old archive's Latin-1 name could never be asked for again: it is left out, and only it.
TEST_F(LibraryScan, LeavesOutOnlyTheFilesWhoseNamesAreNotUTF8) {
    put("caf\xe9.mp4");
    put("caf\xe9/inside.mov");
    put("café.mp4");
    put("zebra.mov");
    std::vector<std::string> leftOut;
    EXPECT_EQ(namesOf(Library::scan(library, &leftOut)), (Names{"café.mp4", "zebra.mov"}));
    EXPECT_EQ(leftOut, (std::vector<std::string>{"caf\xe9/inside.mov", "caf\xe9.mp4"}));
}

TEST_F(LibraryScan, EndsWhenAFolderLinkLoopsBack) {
    put("Show/a.mov");
    link("Show/up", "..");
    link("self", ".");
    EXPECT_EQ(names(), Names{"a.mov"});
}

TEST_F(LibraryScan, LeavesOutFoldersDeeperThan64Levels) {
    fs::path folder;
    for (int level = 1; level < 64; ++level)
        folder /= "d";
    put(folder / "deepest.mov");        // depth 64
    put(folder / "d" / "too deep.mov"); // depth 65
    EXPECT_EQ(names(), Names{"deepest.mov"});
}

TEST_F(LibraryScan, SortsNamesAsTheFileBrowserDoes) {
    put("Clip 10.mov");
    put("clip 9.mov");
    put("b.mov");
    put("A.mov");
    EXPECT_EQ(names(), (Names{"A.mov", "b.mov", "clip 9.mov", "Clip 10.mov"}));
}

TEST_F(LibraryScan, EqualNamesKeepTheOrderOfSetsPackagesThenFilesInWalkOrder) {
    putShow(library / "z");
    json manifest = clipManifest();
    manifest["master"]["name"] = "Show";
    putClip(library / "a", manifest);
    put("c/x.mov");
    put("b/x.mov");
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"Show", "Show", "x.mov", "x.mov"}));
    EXPECT_TRUE(assets[0].isSet());
    EXPECT_TRUE(assets[1].isPackage());
    EXPECT_EQ(assets[2].folder, library / "b");
    EXPECT_EQ(assets[3].folder, library / "c");
}

TEST_F(LibraryScan, IdsComeFromThePathInsideTheLibraryInComposedForm) {
    put("sub/a.mov");
    put("cafe\xCC\x81.mov"); // café, decomposed
    for (const fs::path& root : {library, library / "", library / ".", library / "sub" / ".."}) {
        SCOPED_TRACE(root);
        const std::vector<Asset> assets = Library::scan(root);
        ASSERT_EQ(assets.size(), 2u);
        EXPECT_EQ(assets[0].id, Library::id("sub/a.mov"));
        EXPECT_EQ(assets[1].id, Library::id("caf\xC3\xA9.mov"));
    }
}

TEST_F(LibraryScan, ManifestsOver4MiBAreNotRead) {
    auto padded = [](const json& manifest, size_t size) {
        std::string text = manifest.dump(2);
        text.resize(size, ' ');
        return text;
    };
    constexpr size_t limit = 4 << 20;
    putShowParts(library / "at limit");
    put("at limit" / fs::path(showManifestName), padded(showManifest(), limit));
    putShowParts(library / "over limit");
    put("over limit" / fs::path(showManifestName), padded(showManifest(), limit + 1));
    putClipFiles(library / "package at limit");
    put("package at limit" / fs::path(clipManifestName), padded(clipManifest(), limit));
    putClipFiles(library / "package over limit");
    put("package over limit" / fs::path(clipManifestName), padded(clipManifest(), limit + 1));
    EXPECT_EQ(names(), (Names{"Clip", "Show", "Show_left.mp4", "Show_right.mp4"}));
}

TEST_F(LibraryScan, TimesBefore1970AreKeptForPackagesAndSets) {
    putClip(library / "clip");
    for (const std::string& name : {wideName, stripA, stripB})
        setModified(library / "clip" / name, -86400);
    putShow(library);
    setModified(library / "Show_left/Show_left.mp4", -86400);
    setModified(library / "Show_right/Show_right.mp4", -172800);
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"Clip", "Show"}));
    EXPECT_EQ(secondsOf(assets[0].modified), -86400);
    EXPECT_EQ(secondsOf(assets[1].modified), -86400);
}

// ================================================================================================
// Asset ids and names

TEST(LibraryId, IsAFollowedByTheFirst10BytesOfTheSHA256OfThePath) {
    EXPECT_EQ(Library::id("abc"), "aba7816bf8f01cfea4141");
    EXPECT_EQ(Library::id("sub/a.mov").size(), 21u);
    EXPECT_NE(Library::id("sub/a.mov"), Library::id("sub/b.mov"));
}

TEST(LibraryId, IsTheSameForComposedAndDecomposedSpellings) {
    EXPECT_EQ(Library::id("cafe\xCC\x81.mov"), Library::id("caf\xC3\xA9.mov"));
    EXPECT_NE(Library::id("cafe.mov"), Library::id("caf\xC3\xA9.mov"));
}

TEST(LibrarySafeName, AcceptsOnlyOneVisibleFileNameComponent) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"clip.mp4", true},
        {"a", true},
        {"Show left (2).mov", true},
        {"a..b", true},
        {"caf\xC3\xA9.mov", true},
        {std::string(511, 'a'), true},
        {std::string(512, 'a'), false},
        {"", false},
        {".", false},
        {"..", false},
        {"...", false},
        {".hidden.mov", false},
        {"a/b", false},
        {"/a", false},
        {"a/", false},
        {"a\\b", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(Library::safeName(name), safe) << name;
}

// ================================================================================================
// Frame rates and the WebM alpha mark

TEST(LibraryRate, ReadsPositiveNumbersAndFractionTexts) {
    const std::vector<std::pair<json, std::optional<double>>> cases = {
        {29.97, 29.97},
        {25, 25.0},
        {1, 1.0},
        {"30000/1001", 30000.0 / 1001.0},
        {"25", 25.0},
        {" 25 ", 25.0},
        {"24000 / 1001", 24000.0 / 1001.0},
        {"/25", 25.0}, // empty pieces are dropped
        {"25/", 25.0},
        {"12.5", 12.5},
        {0, std::nullopt},
        {0.0, std::nullopt},
        {-1, std::nullopt},
        {-29.97, std::nullopt},
        {"0", std::nullopt},
        {"-25", std::nullopt},
        {"0/1", std::nullopt},
        {"25/0", std::nullopt},
        {"1/2/3", std::nullopt},
        {"x/25", std::nullopt}, // every piece must be a number
        {"abc", std::nullopt},
        {"25fps", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {true, std::nullopt},
        {nullptr, std::nullopt},
        {json::array({25}), std::nullopt},
        {json::object({{"fps", 25}}), std::nullopt},
    };
    for (const auto& [value, rate] : cases)
        EXPECT_EQ(Library::rate(value), rate) << value.dump();
}

TEST(LibraryWebmAlpha, IsTheValueOfTheFirstAlphaModeInTheFirst256KiB) {
    constexpr size_t window = 0x40000;
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"alpha mode 1", webm(alphaOn), true},
        {"alpha mode 0 before a 1", webm(alphaOff + "padding" + alphaOn), false},
        {"alpha mode 2", webm("\x53\xC0\x81\x02"), false},
        {"no alpha mode", webm("nothing here"), false},
        {"ending at 256 KiB", std::string(window - 4, '\0') + alphaOn, true},
        {"its value past 256 KiB", std::string(window - 3, '\0') + alphaOn, false},
        {"only after 256 KiB", std::string(window, '\0') + alphaOn, false},
        {"the mark without its value", webm("\x53\xC0\x81"), false},
        {"three bytes", "\x53\xC0\x81", false},
        {"empty", "", false},
    };
    TempFolder temp;
    for (const auto& [what, bytes, alpha] : cases) {
        const fs::path path = writeAt(temp / (what + ".webm"), bytes);
        EXPECT_EQ(Library::webmAlpha(path), alpha) << what;
    }
    EXPECT_FALSE(Library::webmAlpha(temp / "missing.webm"));
}

// ================================================================================================
// Sets

using LibrarySets = LibraryTest;

TEST_F(LibrarySets, AValidSetIsListedOnceWithItsParts) {
    const fs::path manifest = putShow(library);
    Asset expected;
    expected.id = Library::id(showManifestName);
    expected.name = "Show";
    expected.folder = library;
    expected.file = "Show_left.mp4";
    expected.bytes = 8;
    expected.modified = at(1700000500);
    expected.parts = {{"Show_left.mp4", library / "Show_left/Show_left.mp4", 1920, 1080, 12.5},
                      {"Show_right.mp4", library / "Show_right/Show_right.mp4", 1920, 1080, 12.5}};
    expected.manifest = manifest;
    expected.ordered = true;
    EXPECT_EQ(scan(), std::vector<Asset>{expected});
}

TEST_F(LibrarySets, ASetWithoutOrderedIsNotOrdered) {
    json manifest = showManifest();
    manifest.erase("ordered");
    putShow(library, manifest);
    EXPECT_FALSE(only().ordered);
}

TEST_F(LibrarySets, ASetsIdComesFromItsManifestsRelativePath) {
    putShow(library / "Shows");
    EXPECT_EQ(only().id, Library::id("Shows/" + showManifestName));
}

TEST_F(LibrarySets, AFaultyManifestLeavesTheSetOutAndItsVideosListAlone) {
    // Each case may change the files and returns the manifest's text.
    using Spoil = std::function<std::string(const fs::path& folder, json manifest)>;
    auto edit = [](std::function<void(json & right, json & manifest)> change) -> Spoil {
        return [change](const fs::path&, json manifest) {
            change(manifest["parts"][1], manifest);
            return manifest.dump(2);
        };
    };
    // Points the right part elsewhere, at a file that is there.
    auto point = [](std::string key, std::string value, fs::path file) -> Spoil {
        return [=](const fs::path& folder, json manifest) {
            writeAt(folder / file);
            manifest["parts"][1][key] = value;
            return manifest.dump(2);
        };
    };
    // Changes the right part's file on disk.
    auto onDisk = [](std::function<void(const fs::path& folder, const fs::path& right)> change) -> Spoil {
        return [change](const fs::path& folder, json manifest) {
            change(folder, folder / "Show_right/Show_right.mp4");
            return manifest.dump(2);
        };
    };
    struct SpoiledSet {
        std::string what;
        Spoil spoil;
        Names listed;
    };
    const Names both{"Show_left.mp4", "Show_right.mp4"};
    const Names leftOnly{"Show_left.mp4"};
    const Names bothAndAnother{"Show_left.mp4", "Show_right.mp4", "Show_right.mp4"};
    const std::vector<SpoiledSet> cases = {
        {"one part", edit([](json&, json& m) { m["parts"].erase(1); }), both},
        {"version 2", edit([](json&, json& m) { m["version"] = 2; }), both},
        {"another format", edit([](json&, json& m) { m["format"] = "vorlane-previs"; }), both},
        {"parts not a list", edit([](json&, json& m) { m["parts"] = "Show_left"; }), both},
        {"a duration as text", edit([](json& right, json&) { right["duration"] = "12.5"; }), both},
        {"a dir of ..", edit([](json& right, json&) { right["dir"] = ".."; }), both},
        {"a file with a path", edit([](json& right, json&) {
             right["dir"] = "Show_left";
             right["file"] = "../Show_right/Show_right.mp4";
         }),
         both},
        {"a dir with a slash", point("dir", "More/Show_right", "More/Show_right/Show_right.mp4"), bothAndAnother},
        {"an empty dir", point("dir", "", "Show_right.mp4"), bothAndAnother},
        {"a hidden dir", point("dir", ".Show_right", ".Show_right/Show_right.mp4"), both},
        {"a part file name twice",
         point("file", "Show_left.mp4", "Show_right/Show_left.mp4"),
         {"Show_left.mp4", "Show_left.mp4", "Show_right.mp4"}},
        {"a part file missing", onDisk([](const fs::path&, const fs::path& right) { fs::remove(right); }), leftOnly},
        {"a part that is a folder", onDisk([](const fs::path&, const fs::path& right) {
             fs::remove(right);
             fs::create_directory(right);
         }),
         leftOnly},
        {"a part file behind a link", onDisk([](const fs::path& folder, const fs::path& right) {
             const fs::path elsewhere = writeAt(folder.string() + " elsewhere.mp4");
             fs::remove(right);
             fs::create_symlink(elsewhere, right);
         }),
         leftOnly},
        {"a part folder behind a link", onDisk([](const fs::path& folder, const fs::path& right) {
             const fs::path elsewhere = folder.string() + " elsewhere";
             fs::rename(right.parent_path(), elsewhere);
             fs::create_symlink(elsewhere, right.parent_path());
         }),
         leftOnly},
        {"not JSON", [](const fs::path&, json) { return std::string("Show"); }, both},
        {"truncated",
         [](const fs::path&, json m) {
             const std::string text = m.dump(2);
             return text.substr(0, text.size() / 2);
         },
         both},
    };
    for (size_t index = 0; index < cases.size(); ++index) {
        const auto& [what, spoil, listed] = cases[index];
        SCOPED_TRACE(what);
        const fs::path folder = temp / ("case " + std::to_string(index));
        putShowParts(folder);
        writeAt(folder / showManifestName, spoil(folder, showManifest()));
        EXPECT_EQ(namesOf(Library::scan(folder)), listed);
    }
}

// ================================================================================================
// Packages

using LibraryPackages = LibraryTest;

TEST_F(LibraryPackages, AValidPackageIsListedOnceWithItsWideFileAndStrips) {
    putClip(library / "clip");
    Asset expected;
    expected.id = Library::id("clip/" + clipManifestName);
    expected.name = "Clip";
    expected.folder = library / "clip";
    expected.file = wideName;
    expected.bytes = 60;
    expected.master = Asset::Size{7680, 1080};
    expected.strips = {{stripA, 0, 3840}, {stripB, 3840, 3840}};
    expected.modified = at(clipNewest);
    expected.fps = 30000.0 / 1001.0;
    EXPECT_EQ(scan(), std::vector<Asset>{expected});
}

TEST_F(LibraryPackages, ItsListingCarriesMasterStripsAndFrameRate) {
    putClip(library / "clip");
    const json expected = {
        {"id", Library::id("clip/" + clipManifestName)},
        {"name", "Clip"},
        {"file", wideName},
        {"bytes", 60},
        {"kind", "package"},
        {"modified", "2023-11-14T22:23:20Z"},
        {"fps", 29.97},
        {"master", {{"w", 7680}, {"h", 1080}}},
        {"strips",
         json::array({{{"file", stripA}, {"x", 0}, {"w", 3840}}, {{"file", stripB}, {"x", 3840}, {"w", 3840}}})},
    };
    EXPECT_EQ(only().json(), expected);
}

TEST_F(LibraryPackages, ItsFilesAreNotListedAloneWhateverTheirNames) {
    json manifest = clipManifest();
    manifest["wide"]["file"] = "clip.mp4";
    manifest["strips"][0]["file"] = "left.mov";
    manifest["strips"][1]["file"] = "right.webm";
    for (const char* name : {"clip.mp4", "left.mov", "right.webm"})
        put(fs::path("clip") / name);
    putClipManifest(library / "clip", manifest);
    EXPECT_EQ(names(), Names{"Clip"});
}

TEST_F(LibraryPackages, AMissingStripLeavesThePackageAndItsFilesOut) {
    putClip(library / "clip");
    fs::remove(library / "clip" / stripB);
    EXPECT_TRUE(scan().empty());
}

TEST_F(LibraryPackages, FilesBehindSymbolicLinksDoNotCount) {
    putClip(library / "strip");
    fs::rename(library / "strip" / stripB, outside / stripB);
    link(fs::path("strip") / stripB, outside / stripB);
    putClip(library / "wide");
    fs::rename(library / "wide" / wideName, outside / wideName);
    link(fs::path("wide") / wideName, outside / wideName);
    EXPECT_TRUE(scan().empty());
}

TEST_F(LibraryPackages, TheReaderRefusesAFaultyManifest) {
    auto without = [](const char* key) { return [key](json& m) { m.erase(key); }; };
    const std::vector<std::pair<std::string, std::function<void(json&)>>> cases = {
        {"no format", without("format")},
        {"another format", [](json& m) { m["format"] = "vorlane-set"; }},
        {"version 2", [](json& m) { m["version"] = 2; }},
        {"version as text", [](json& m) { m["version"] = "1"; }},
        {"version 1.0", [](json& m) { m["version"] = 1.0; }},
        {"no master", without("master")},
        {"master not an object",
         [](json& m) {
             m["master"] = json::array({7680, 1080});
         }},
        {"master width 0", [](json& m) { m["master"]["w"] = 0; }},
        {"master width fractional", [](json& m) { m["master"]["w"] = 7680.5; }},
        {"master height as text", [](json& m) { m["master"]["h"] = "1080"; }},
        {"no wide", without("wide")},
        {"wide not an object", [](json& m) { m["wide"] = wideName; }},
        {"wide file not text", [](json& m) { m["wide"]["file"] = 7; }},
        {"wide file missing", [](json& m) { m["wide"]["file"] = "gone.mp4"; }},
        {"wide file with a path", [](json& m) { m["wide"]["file"] = "../clip/" + wideName; }},
        {"wide file a folder", [](json& m) { m["wide"]["file"] = "folder"; }},
        {"strip file missing", [](json& m) { m["strips"][1]["file"] = "gone.mp4"; }},
        {"strip file with a path", [](json& m) { m["strips"][1]["file"] = "../clip/" + stripB; }},
        {"strip without file", [](json& m) { m["strips"][1].erase("file"); }},
        {"strip x fractional", [](json& m) { m["strips"][1]["x"] = 3840.5; }},
        {"strip x as text", [](json& m) { m["strips"][1]["x"] = "3840"; }},
        {"strip without x", [](json& m) { m["strips"][1].erase("x"); }},
        {"strip w null", [](json& m) { m["strips"][1]["w"] = nullptr; }},
        {"an array", [](json& m) { m = json::array({m}); }},
    };
    for (size_t index = 0; index < cases.size(); ++index) {
        const auto& [what, spoil] = cases[index];
        SCOPED_TRACE(what);
        const fs::path folder = temp / ("case " + std::to_string(index)) / "clip";
        putClipFiles(folder);
        fs::create_directory(folder / "folder");
        json manifest = clipManifest();
        spoil(manifest);
        const fs::path path = putClipManifest(folder, manifest);
        EXPECT_FALSE(Library::package(path).has_value());
        EXPECT_TRUE(Library::scan(folder).empty());
    }
    EXPECT_FALSE(Library::package(writeAt(temp / "text.vorlane.json", "{\"format\": \"vorlane-previs\"")).has_value());
    EXPECT_FALSE(Library::package(temp / "missing.vorlane.json").has_value());
}

TEST_F(LibraryPackages, StripsThatAreNotAListOfObjectsCountAsNone) {
    const json strip = {{"file", stripA}, {"x", 0}, {"w", 3840}};
    const std::vector<std::optional<json>> cases = {
        std::nullopt,        json("strips"),          json(5), json::object(), json::array(),
        json::array({1, 2}), json::array({strip, 7}),
    };
    for (size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(describe(cases[index]));
        const fs::path folder = temp / ("case " + std::to_string(index));
        putClip(folder, clipManifestWith("strips", cases[index]));
        const std::vector<Asset> assets = Library::scan(folder);
        ASSERT_EQ(assets.size(), 1u);
        EXPECT_TRUE(assets[0].strips.empty());
        EXPECT_EQ(assets[0].bytes, 10);
        EXPECT_EQ(assets[0].json()["strips"], json::array());
    }
}

TEST_F(LibraryPackages, ANameThatIsNotTextFallsBackToTheWideFilesName) {
    const std::vector<std::optional<json>> cases = {std::nullopt, json(""), json(7), json(nullptr)};
    for (size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(describe(cases[index]));
        const fs::path folder = temp / ("case " + std::to_string(index));
        putClip(folder, clipManifestWith("name", cases[index]));
        EXPECT_EQ(namesOf(Library::scan(folder)), Names{wideName});
    }
}

TEST_F(LibraryPackages, NameAndFrameRateAreReadAtTheTopThenWithTheMaster) {
    struct Case {
        json top;
        std::string name;
        std::optional<double> fps;
    };
    const Case cases[] = {
        {{{"name", "Top"}, {"fps", 25}}, "Top", 25.0},
        {{{"name", "Top"}}, "Top", 30000.0 / 1001.0}, // each key on its own
        {{{"fps", "25/1"}}, "Clip", 25.0},
        {{{"name", ""}, {"fps", "fast"}}, "Clip", 30000.0 / 1001.0}, // not usable at the top
    };
    for (size_t index = 0; index < std::size(cases); ++index) {
        SCOPED_TRACE(cases[index].top.dump());
        json manifest = clipManifest();
        manifest.merge_patch(cases[index].top);
        const std::optional<Library::Package> package =
            Library::package(putClip(temp / ("case " + std::to_string(index)), manifest));
        ASSERT_TRUE(package);
        EXPECT_EQ(package->name, cases[index].name);
        EXPECT_EQ(package->fps, cases[index].fps);
    }
}

TEST_F(LibraryPackages, AFrameRateThatCannotBeReadIsLeftOut) {
    putClip(library / "unreadable", clipManifestWith("fps", json("fast")));
    putClip(library / "absent", clipManifestWith("fps", std::nullopt));
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(assets.size(), 2u);
    for (const Asset& asset : assets) {
        SCOPED_TRACE(asset.folder);
        EXPECT_EQ(asset.fps, std::nullopt);
        EXPECT_FALSE(asset.json().contains("fps"));
    }
}

TEST_F(LibraryPackages, LooseMadeFilesAreNotListed) {
    put("clip.wide-7680x1080.mp4");
    put("clip.strip-x00000-w1536.mp4");
    put("clip.wide-7680x1080.webm", webm(alphaOn));
    put("clip.mp4");
    EXPECT_EQ(names(), Names{"clip.mp4"});
}

TEST_F(LibraryPackages, OnlyAWebmWideFileCanHaveAlpha) {
    const std::string alphaWide = "clip.wide-7680x1080.webm";
    json manifest = clipManifest();
    manifest["wide"]["file"] = alphaWide;
    manifest["master"]["name"] = "webm";
    putClip(library / "webm", manifest);
    put(fs::path("webm") / alphaWide, webm(alphaOn));
    manifest = clipManifest();
    manifest["master"]["name"] = "mp4";
    putClip(library / "mp4", manifest);
    put(fs::path("mp4") / wideName, webm(alphaOn));
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"mp4", "webm"}));
    EXPECT_FALSE(assets[0].alpha);
    EXPECT_TRUE(assets[1].alpha);
    EXPECT_EQ(assets[1].json()["alpha"], true);
}

// ================================================================================================
// Stills and the still-size cache

using LibraryStills = LibraryTest;

TEST_F(LibraryStills, ListsStillsWithTheirPixelSizes) {
    savePicture(library / "a.png", 6, 4);
    savePicture(library / "b.jpg", 5, 3);
    savePicture(library / "c.gif", 2, 7);
    savePicture(library / "d.webp", 3, 2);
    savePicture(library / "e.JPEG", 1, 1);
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"a.png", "b.jpg", "c.gif", "d.webp", "e.JPEG"}));
    const std::vector<Asset::Size> sizes = {{6, 4}, {5, 3}, {2, 7}, {3, 2}, {1, 1}};
    for (size_t index = 0; index < sizes.size(); ++index) {
        EXPECT_EQ(assets[index].still, sizes[index]) << assets[index].name;
        EXPECT_EQ(assets[index].json()["kind"], "still");
    }
}

TEST_F(LibraryStills, AQuarterTurnedJpegIsListedUpright) {
    const fs::path path = library / "turned.jpg";
    savePicture(path, 6, 4, 6);
    ASSERT_EQ(readPicture(path).orientation, 6);
    EXPECT_EQ(only().still, (Asset::Size{4, 6}));
}

TEST_F(LibraryStills, AStillThatCannotBeReadIsLeftOut) {
    put("broken.png", "not a picture at all");
    put("empty.jpg");
    put("text.webp", "RIFF");
    savePicture(library / "good.png", 2, 2);
    EXPECT_EQ(names(), Names{"good.png"});
}

TEST_F(LibraryStills, AnUnchangedStillIsAnsweredFromTheCache) {
    const fs::path path = library / "a.png";
    savePicture(path, 6, 4);
    ASSERT_EQ(only().still, (Asset::Size{6, 4}));
    const auto time = fs::last_write_time(path);
    writeFile(path, std::string(fs::file_size(path), 'x'));
    fs::last_write_time(path, time);
    EXPECT_EQ(only().still, (Asset::Size{6, 4}));
    setModified(path, 1700000000); // now it is read again, and is no picture
    EXPECT_TRUE(scan().empty());
}

TEST_F(LibraryStills, TheCacheKeyFollowsPathSizeAndTime) {
    const fs::path path = put("a.png", "12345");
    setModified(path, 1700000000);
    const std::string key = StillSizes::key(path);
    EXPECT_TRUE(key.starts_with((library / "a.png").string() + "|5|")) << key;
    EXPECT_EQ(StillSizes::key(library / "." / "a.png"), key);
    setModified(path, 1700000001);
    const std::string later = StillSizes::key(path);
    EXPECT_NE(later, key);
    writeFile(path, "123456");
    setModified(path, 1700000001);
    EXPECT_NE(StillSizes::key(path), later);
    EXPECT_EQ(StillSizes::key(library / "gone.png"), (library / "gone.png").string() + "|-1|0.0");
}

TEST(StillSizesCache, EmptiesItselfRatherThanGrowPast5000) {
    StillSizes cache;
    for (int64_t index = 0; index <= 5000; ++index)
        cache.store("k" + std::to_string(index), {index, 1});
    EXPECT_EQ(cache.find("k0"), (Asset::Size{0, 1}));
    EXPECT_EQ(cache.find("k5000"), (Asset::Size{5000, 1}));
    cache.store("k5001", {5001, 1});
    EXPECT_EQ(cache.find("k0"), std::nullopt);
    EXPECT_EQ(cache.find("k5000"), std::nullopt);
    EXPECT_EQ(cache.find("k5001"), (Asset::Size{5001, 1}));
}

TEST_F(LibraryStills, PngOfATurnedJpegIsUprightAtFullSize) {
    const fs::path jpeg = library / "turned.jpg";
    const fs::path png = temp / "turned.png";
    savePicture(jpeg, 6, 4, 6);
    Still::png(jpeg, png);
    EXPECT_EQ(readFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const PictureFacts facts = readPicture(png);
    EXPECT_EQ(facts.w, 4);
    EXPECT_EQ(facts.h, 6);
    EXPECT_EQ(facts.orientation, 1);
}

TEST_F(LibraryStills, PngOfWhatIsNoPictureCannotBeRead) {
    const fs::path garbage = put("garbage.jpg", "garbage");
    EXPECT_EQ(thrownText<TrelkError>([&] { Still::png(garbage, temp / "out.png"); }), "couldn't read this picture");
    EXPECT_EQ(thrownText<TrelkError>([&] { Still::png(library / "missing.png", temp / "out.png"); }),
              "couldn't read this picture");
    EXPECT_FALSE(fs::exists(temp / "out.png"));
}

TEST_F(LibraryStills, PngIntoAMissingFolderCannotBeWritten) {
    savePicture(library / "a.png", 2, 2);
    EXPECT_EQ(thrownText<TrelkError>([&] { Still::png(library / "a.png", temp / "missing/a.png"); }), "couldn't write the PNG");
}

// ================================================================================================
// Which files of an asset may be served

using LibraryFiles = LibraryTest;

TEST_F(LibraryFiles, APlainFileServesOnlyItself) {
    put("Show/a.mov");
    put("Show/b.mov");
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"a.mov", "b.mov"}));
    EXPECT_EQ(Library::file("a.mov", assets[0]), library / "Show/a.mov");
    for (const char* name : {"b.mov", "Show/a.mov", "../Show/a.mov", "./a.mov", ".a.mov", "", "a.mov/"})
        EXPECT_EQ(Library::file(name, assets[0]), std::nullopt) << name;
}

TEST_F(LibraryFiles, APackageServesItsWideFileAndStripsButNotItsManifest) {
    putClip(library / "clip");
    const Asset clip = only();
    EXPECT_EQ(Library::file(wideName, clip), library / "clip" / wideName);
    EXPECT_EQ(Library::file(stripB, clip), library / "clip" / stripB);
    EXPECT_EQ(Library::file(clipManifestName, clip), std::nullopt);
    EXPECT_EQ(Library::file("clip/" + stripA, clip), std::nullopt);
}

TEST_F(LibraryFiles, ASetServesItsPartsFromTheirFolders) {
    putShow(library);
    put("Show_right/notes.mp4");
    const std::vector<Asset> assets = scan();
    ASSERT_EQ(namesOf(assets), (Names{"notes.mp4", "Show"}));
    const Asset& show = assets[1];
    EXPECT_EQ(Library::file("Show_left.mp4", show), library / "Show_left/Show_left.mp4");
    EXPECT_EQ(Library::file("Show_right.mp4", show), library / "Show_right/Show_right.mp4");
    for (const std::string& name :
         {showManifestName, std::string("notes.mp4"), std::string("Show_right/Show_right.mp4")})
        EXPECT_EQ(Library::file(name, show), std::nullopt) << name;
}

// ================================================================================================
// The listing object

// A plain video as the scan would make it.
Asset video() {
    Asset asset;
    asset.id = "a0123456789abcdef0123";
    asset.name = asset.file = "clip.mov";
    asset.folder = "Library";
    asset.bytes = 1234;
    asset.modified = at(1700000000);
    return asset;
}

json videoJSON() {
    return {{"id", "a0123456789abcdef0123"},
            {"name", "clip.mov"},
            {"file", "clip.mov"},
            {"bytes", 1234},
            {"kind", "video"},
            {"modified", "2023-11-14T22:13:20Z"}};
}

TEST(AssetJSON, AVideoHasOnlyTheCommonKeys) {
    EXPECT_EQ(video().json(), videoJSON());
    EXPECT_TRUE(video().json()["bytes"].is_number_integer());
}

TEST(AssetJSON, AnAlphaVideoAddsAlpha) {
    Asset asset = video();
    asset.alpha = true;
    json expected = videoJSON();
    expected["alpha"] = true;
    EXPECT_EQ(asset.json(), expected);
}

TEST(AssetJSON, AStillAddsItsSize) {
    Asset asset = video();
    asset.still = Asset::Size{4, 6};
    json expected = videoJSON();
    expected.update({{"kind", "still"}, {"w", 4}, {"h", 6}});
    EXPECT_EQ(asset.json(), expected);
}

TEST(AssetJSON, APackageAddsMasterAndStripsEvenWhenThereAreNone) {
    Asset asset = video();
    asset.master = Asset::Size{7680, 1080};
    json expected = videoJSON();
    expected.update({{"kind", "package"}, {"master", {{"w", 7680}, {"h", 1080}}}, {"strips", json::array()}});
    EXPECT_EQ(asset.json(), expected);
}

TEST(AssetJSON, ASetAddsItsPartsAndOrderedOnlyWhenTrue) {
    Asset asset = video();
    asset.parts = {{"left.mp4", "Library/left/left.mp4", 1920, 1080, 12.5},
                   {"right.mp4", "Library/right/right.mp4", 1280, 720, 3}};
    json expected = videoJSON();
    expected.update({{"kind", "set"},
                     {"parts", json::array({{{"file", "left.mp4"}, {"w", 1920}, {"h", 1080}, {"dur", 12.5}},
                                            {{"file", "right.mp4"}, {"w", 1280}, {"h", 720}, {"dur", 3}}})}});
    EXPECT_EQ(asset.json(), expected);
    asset.ordered = true;
    expected["ordered"] = true;
    EXPECT_EQ(asset.json(), expected);
}

TEST(AssetJSON, TheKindIsSetThenPackageThenStill) {
    Asset asset = video();
    asset.still = Asset::Size{4, 6};
    asset.master = Asset::Size{7680, 1080};
    EXPECT_EQ(asset.json()["kind"], "package");
    asset.parts = {{"left.mp4", "Library/left/left.mp4", 1920, 1080, 12.5}};
    EXPECT_EQ(asset.json()["kind"], "set");
}

TEST(AssetJSON, ModifiedIsUTCWithoutFractionsOfASecond) {
    Asset asset = video();
    asset.modified = at(1700000000.75);
    EXPECT_EQ(asset.json()["modified"], "2023-11-14T22:13:20Z");
    asset.modified = at(0);
    EXPECT_EQ(asset.json()["modified"], "1970-01-01T00:00:00Z");
}

TEST(AssetJSON, FrameRateAndDurationsAreRoundedTo3DecimalsHalfAwayFromZero) {
    const std::vector<std::pair<double, double>> cases = {
        {30000.0 / 1001.0, 29.97}, {0.0625, 0.063}, {1.0625, 1.063}, {-0.0625, -0.063}, {12.3444, 12.344}, {25, 25},
    };
    for (const auto& [value, rounded] : cases) {
        Asset asset = video();
        asset.fps = value;
        asset.parts = {{"left.mp4", "Library/left/left.mp4", 1920, 1080, value}};
        const json listed = asset.json();
        EXPECT_EQ(listed["fps"], rounded) << value;
        EXPECT_EQ(listed["parts"][0]["dur"], rounded) << value;
    }
}

// ================================================================================================
// Removal

// Records what the trash operation is given, and deletes it as the Trash would take it away.
class LibraryRemoval : public LibraryTest {
protected:
    std::vector<fs::path> trashed;

    Library::Trash recorder() {
        return [this](const fs::path& path) {
            trashed.push_back(path);
            fs::remove_all(path);
        };
    }
};

TEST_F(LibraryRemoval, APackageAloneInItsFolderGoesWithTheFolder) {
    putClip(library / "clip");
    put("clip/.DS_Store");                   // hidden entries do not count
    put("clip/clip-old.vorlane.json", "{}"); // nor does another manifest
    Library::remove(only(), recorder());
    EXPECT_EQ(trashed, std::vector<fs::path>{library / "clip"});
}

TEST_F(LibraryRemoval, APackageWithAForeignFileBesideGoesFileByFile) {
    putClip(library / "clip");
    put("clip/notes.txt");
    Library::remove(only(), recorder());
    const fs::path folder = library / "clip";
    EXPECT_EQ(trashed,
              (std::vector<fs::path>{folder / wideName, folder / stripA, folder / stripB, folder / clipManifestName}));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
}

TEST_F(LibraryRemoval, APackageInTheLibraryFolderItselfGoesFileByFile) {
    const ScopedEnvironment home("HOME", (temp / "home").string());
    const fs::path folder = Library::defaultFolder();
    ASSERT_EQ(folder, temp / "home/Movies/vorlane Library");
    putClip(folder);
    const std::vector<Asset> assets = Library::scan(folder);
    ASSERT_EQ(assets.size(), 1u);
    Library::remove(assets[0], recorder());
    EXPECT_EQ(trashed,
              (std::vector<fs::path>{folder / wideName, folder / stripA, folder / stripB, folder / clipManifestName}));
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(LibraryRemoval, APlainVideoGoesAloneEvenWhenItsFolderHoldsNothingElse) {
    put("Show/a.mov");
    Library::remove(only(), recorder());
    EXPECT_EQ(trashed, std::vector<fs::path>{library / "Show/a.mov"});
    EXPECT_TRUE(fs::is_directory(library / "Show"));
}

TEST_F(LibraryRemoval, ASetTakesEachPartsFolderOrFileThenItsManifest) {
    const fs::path manifest = putShow(library);
    put("Show_left/.DS_Store");
    put("Show_right/notes.txt");
    Library::remove(only(), recorder());
    EXPECT_EQ(trashed, (std::vector<fs::path>{library / "Show_left", library / "Show_right/Show_right.mp4", manifest}));
    EXPECT_TRUE(fs::exists(library / "Show_right/notes.txt"));
}

TEST_F(LibraryRemoval, TheFirstFailureEndsTheRemovalAndIsPassedOn) {
    putClip(library / "clip");
    put("clip/notes.txt");
    const Asset clip = only();
    auto failing = [&](const fs::path& path) {
        trashed.push_back(path);
        if (trashed.size() == 2) throw std::runtime_error("the Trash is full");
        fs::remove(path);
    };
    try {
        Library::remove(clip, failing);
        ADD_FAILURE() << "the failure was not passed on";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the Trash is full");
    }
    EXPECT_EQ(trashed, (std::vector<fs::path>{library / "clip" / wideName, library / "clip" / stripA}));
    EXPECT_TRUE(fs::exists(library / "clip" / clipManifestName));
}

TEST_F(LibraryRemoval, AnAssetInUseIsTrashedOnlyWhenConfirmed) {
    put("a.mov");
    const Asset asset = only();
    EXPECT_FALSE(Library::trash(asset, {"Main wall"}, Library::Confirmed::no, recorder()));
    EXPECT_TRUE(trashed.empty());
    EXPECT_TRUE(Library::trash(asset, {"Main wall"}, Library::Confirmed::yes, recorder()));
    EXPECT_EQ(trashed, std::vector<fs::path>{library / "a.mov"});
}

TEST_F(LibraryRemoval, AnAssetInNoUseIsTrashedWithoutAsking) {
    put("a.mov");
    EXPECT_TRUE(Library::trash(only(), {}, Library::Confirmed::no, recorder()));
    EXPECT_EQ(trashed, std::vector<fs::path>{library / "a.mov"});
}

} // namespace
