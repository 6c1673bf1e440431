#include "TrelkCore/Projects/Cleanup.h"

#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Projects/Projects.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> idsOf(const std::vector<CleanupItem>& items) {
    std::vector<std::string> ids;
    for (const CleanupItem& item : items) ids.push_back(item.id);
    return ids;
}

class CleanupTest : public testing::Test {
protected:
    Asset video(const std::string& id) {
        Asset asset;
        asset.id = id;
        asset.name = id;
        asset.folder = library;
        asset.file = id + ".mp4";
        asset.bytes = 10;
        writeFile(library / asset.file, "v");
        return asset;
    }
    Project project(const std::string& id, std::vector<std::string> ties, std::vector<std::string> listed) {
        Project made;
        made.id = id;
        made.name = "Show " + id;
        made.ties = std::move(ties);
        WallList list{"w", 1, {}};
        for (const std::string& lib : listed) list.items.push_back({"i" + lib, lib, lib});
        made.list = list;
        return made;
    }

    TempFolder folder;
    fs::path library = folder.path();
    const std::vector<KeptMaster> masters{{library / "Masters" / "none.mov", 5, std::nullopt},
                                          {library / "Masters" / "gone.mov", 6, "Gone"},
                                          {library / "Masters" / "made.mov", 7, "Made"}};
};

TEST_F(CleanupTest, GroupsFollowWhoUsesWhatAndOnlyTheSafeOnesStartOn) {
    fs::create_directories(library / "Made");
    const std::vector<Asset> assets{video("shared"), video("onlyA"), video("free")};
    const std::vector<Project> projects{project("A", {"shared"}, {"onlyA"}), project("B", {}, {"shared"}),
                                        project("C", {}, {})};
    const std::vector<CleanupGroup> groups = Cleanup::plan(assets, projects, masters, library);
    std::vector<std::tuple<std::string, std::string, bool, int64_t>> seen;
    for (const CleanupGroup& group : groups) seen.emplace_back(group.id, group.title, group.on, group.bytes());
    EXPECT_EQ(seen, (decltype(seen){{"unused", "Not used by any wall", true, 10},
                                    {"p:A", "Only Show A's", false, 10},
                                    {"orphans", "Masters, nothing made from them here", true, 11},
                                    {"masters", "Masters", false, 7}}));
    EXPECT_EQ(idsOf(Cleanup::chosen(groups)),
              (std::vector<std::string>{"a:free", "m:" + masters[0].url.string(), "m:" + masters[1].url.string()}));

    const std::vector<CleanupGroup> alone = Cleanup::plan(assets, {}, {}, library);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(idsOf(alone[0].items), (std::vector<std::string>{"a:shared", "a:onlyA", "a:free"}));
}

TEST_F(CleanupTest, ALibraryThatCannotBeSeenOffersNothing) {
    EXPECT_TRUE(Cleanup::plan({video("free")}, {}, masters, library / "not mounted").empty());
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
    ::chmod(library.c_str(), 0);
    EXPECT_TRUE(Cleanup::plan({video("free")}, {}, masters, library).empty());
    ::chmod(library.c_str(), 0700);
}

TEST_F(CleanupTest, AFailedItemIsNamedAndKeptInItsProjects) {
    Projects projects(std::nullopt);
    projects.sync(project("A", {}, {}));
    projects.tie({"kept", "gone"}, "A");
    const std::vector<CleanupItem> items{{"a:gone", "gone", 10, video("gone")},
                                         {"a:kept", "kept", 10, video("kept")},
                                         {"m:x", "x.mov", 5, library / "x.mov"}};
    writeFile(library / "x.mov", "m");
    std::vector<fs::path> trashed;
    const std::vector<std::string> failed = Cleanup::run(items, library, projects, [&](const fs::path& path) {
        if (path.filename() == "kept.mp4") throw std::runtime_error("read-only");
        trashed.push_back(path);
    });
    EXPECT_EQ(failed, std::vector<std::string>{"kept"});
    EXPECT_EQ(trashed, (std::vector<fs::path>{library / "gone.mp4", library / "x.mov"}));
    EXPECT_EQ(projects.project("A")->ties, std::vector<std::string>{"kept"});
}

// "Masters" linked to a folder of the user's: none of its files is a kept master, and what was
// planned before the link came is not moved either.
TEST_F(CleanupTest, ALinkedMastersFolderOffersAndMovesNothingOutside) {
    TempFolder outside;
    writeFile(outside / "holiday.mov", "mine");
    fs::create_directories(library / "Show");
    writeFile(library / "Show" / "clip.mp4", "v");
    fs::create_directory_symlink(outside.path(), library / "Masters");
    EXPECT_EQ(Jobs::keptMasters(library, folder / "masters.json"), std::vector<KeptMaster>{});

    Asset swapped = video("clip");
    swapped.folder = library / "Show";
    fs::rename(library / "Show", library / "Show.orig");
    fs::create_directory_symlink(outside.path(), library / "Show");
    writeFile(outside / "clip.mp4", "mine");
    const std::vector<CleanupItem> planned{{"m:h", "holiday.mov", 4, library / "Masters" / "holiday.mov"},
                                           {"a:clip", "clip", 4, swapped}};
    Projects projects(std::nullopt);
    std::vector<fs::path> trashed;
    const std::vector<std::string> failed =
        Cleanup::run(planned, library, projects, [&](const fs::path& path) { trashed.push_back(path); });
    EXPECT_EQ(failed, (std::vector<std::string>{"holiday.mov", "clip"}));
    EXPECT_EQ(trashed, std::vector<fs::path>{});
}

} // namespace
