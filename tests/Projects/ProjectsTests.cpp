#include "TrelkCore/Projects/Projects.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

WallInfo wall(const std::string& id, const std::string& name = "Wall") { return {id, name, 1920, 1080, "25"}; }

WallList list(const std::string& wall, double at, const std::vector<std::string>& libs) {
    WallList made{wall, at, {}};
    for (const std::string& lib : libs) made.items.push_back({"i-" + lib, lib, lib});
    return made;
}

Project posted(const std::string& id, std::vector<WallInfo> walls = {wall("w1")},
               std::optional<WallList> wallList = std::nullopt) {
    return {id, "Show " + id, 0, std::move(walls), std::move(wallList), {}};
}

Asset asset(const std::string& id) {
    Asset made;
    made.id = id;
    made.file = id + ".mp4";
    return made;
}

std::vector<std::string> libs(const std::optional<Project>& project) {
    std::vector<std::string> found;
    if (project && project->list)
        for (const ListItem& item : project->list->items) found.push_back(item.lib.value_or(""));
    return found;
}

// A store on a clock that moves only when the test says so, counting its notifications.
class ProjectsTest : public testing::Test {
protected:
    TempFolder folder;
    fs::path file = folder / "service" / "projects.json";
    double time = 1000;
    int notified = 0;

    std::unique_ptr<Projects> open() {
        auto store = std::make_unique<Projects>(file);
        store->now = [this] { return time; };
        // Calling back into the store proves the lock is released first.
        store->onChange = [this, projects = store.get()] {
            projects->all();
            ++notified;
        };
        return store;
    }
    std::vector<Project> onDisk() const { return Projects(file).all(); }
};

TEST_F(ProjectsTest, OnlyARealChangeIsSavedAndNotified) {
    auto store = open();
    store->sync(posted("bare", {}));
    EXPECT_EQ(notified, 0);
    EXPECT_TRUE(store->project("bare"));
    EXPECT_FALSE(fs::exists(file)) << "nothing differs from a new project";

    store->sync(posted("p"));
    EXPECT_EQ(notified, 1);
    time = 5000;
    store->sync(posted("p"));
    EXPECT_EQ(notified, 1) << "a new seen alone is no change";
    EXPECT_EQ(store->project("p")->seen, 5000);
    ASSERT_EQ(onDisk().size(), 2u);
    EXPECT_EQ(onDisk()[0].seen, 1000) << "seen is written with the next change";
}

TEST_F(ProjectsTest, TheDesktopsNewerListWinsUntilTheBrowserHasIt) {
    auto store = open();
    store->sync(posted("p", {wall("w1")}, list("w1", 2000, {"a"})));
    Project renamed = posted("p", {wall("w1"), wall("w2")}, list("w1", 1000, {"b"}));
    renamed.name = "Renamed";
    EXPECT_EQ(store->sync(renamed), list("w1", 2000, {"a"})) << "the browser is behind";
    EXPECT_EQ(store->project("p")->name, "Renamed");
    EXPECT_EQ(store->sync(posted("p", {wall("w1"), wall("w2")})), list("w1", 2000, {"a"}));

    const int before = notified;
    EXPECT_EQ(store->sync(posted("p", {wall("w1"), wall("w2")}, list("w1", 1000, {"a"}))), std::nullopt)
        << "the same items: the browser has them";
    EXPECT_EQ(store->project("p")->list->at, 1000);
    EXPECT_EQ(notified, before + 1);
    EXPECT_EQ(onDisk()[0].list->at, 1000);
}

TEST_F(ProjectsTest, AnEditIsAlwaysNewerThanTheListItWasMadeFrom) {
    auto store = open();
    store->sync(posted("p", {wall("w1"), wall("w2")}));
    store->edit("p", [](WallList&, const Project&) {});
    EXPECT_EQ(notified, 1) << "an unchanged list is no change";
    EXPECT_FALSE(store->project("p")->list);

    store->add({asset("a")}, "p", "w2");
    EXPECT_EQ(store->project("p")->list->at, 1000);
    store->sync(posted("p", {wall("w1"), wall("w2")}, list("w2", 9000, {"x"})));
    store->remove("i-x", "p");
    EXPECT_EQ(store->project("p")->list->at, 9001) << "the clock is behind the browser's";
}

TEST_F(ProjectsTest, AddingTiesTheAssetsAndStopsAtSixtyItems) {
    auto store = open();
    std::vector<std::string> many;
    for (int at = 0; at < 58; ++at) many.push_back("m" + std::to_string(at));
    store->sync(posted("p", {wall("w1"), wall("w2")}, list("w1", 500, many)));

    store->add({asset("a1"), asset("a2"), asset("a3"), asset("a4"), asset("a5")}, "p", "w2");
    std::optional<Project> project = store->project("p");
    EXPECT_EQ(project->ties, (std::vector<std::string>{"a1", "a2", "a3", "a4", "a5"}));
    ASSERT_EQ(project->list->items.size(), 60u);
    EXPECT_EQ(project->list->wall, "w2") << "the list moves to the wall, items and all";
    const ListItem& added = project->list->items[59];
    EXPECT_EQ(added.name, "a2.mp4");
    EXPECT_EQ(added.lib, "a2");
    EXPECT_TRUE(std::regex_match(added.id, std::regex("k[0-9a-f]{8}-[0-9a-f]")));

    store->add({asset("b")}, "p", "nowhere");
    EXPECT_EQ(store->project("p")->ties.back(), "b");
    EXPECT_EQ(store->project("p")->list, project->list);
}

TEST_F(ProjectsTest, AMoveIsClampedToTheList) {
    auto store = open();
    store->sync(posted("p", {wall("w1")}, list("w1", 500, {"a", "b", "c"})));
    store->move("i-a", -3, "p");
    EXPECT_EQ(notified, 1);
    store->move("i-a", 100, "p");
    EXPECT_EQ(libs(store->project("p")), (std::vector<std::string>{"b", "c", "a"}));
    store->move("i-a", INT64_MIN, "p");
    store->move("i-c", INT64_MAX, "p");
    EXPECT_EQ(libs(store->project("p")), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(ProjectsTest, TrimmingKeepsTheRecentAndTheTied) {
    auto store = open();
    for (int at = 1; at <= 25; ++at) {
        time = at;
        store->sync(posted("p" + std::to_string(at)));
        if (at == 5)
            for (const char* tied : {"p1", "p3", "p5"}) store->tie({"kept"}, tied);
    }
    EXPECT_EQ(store->all().size(), 23u);
    EXPECT_TRUE(store->project("p1") && store->project("p3") && store->project("p5"));
    EXPECT_FALSE(store->project("p2") || store->project("p4"));
    EXPECT_EQ(store->all().front().id, "p25");
}

TEST_F(ProjectsTest, UsersOwnersAndRemovedAssets) {
    auto store = open();
    store->sync(posted("old", {wall("w1")}, list("gone", 500, {"a"})));
    time = 2000;
    store->sync(posted("new", {wall("w1", "Left")}, list("w1", 500, {"a", "b"})));
    store->sync(posted("tied"));
    store->tie({"a"}, "tied");

    EXPECT_EQ(store->users("a"), (std::vector<std::string>{"Show new · Left", "Show old · a wall"}));
    std::vector<std::string> owners;
    for (const Project& project : store->owners("a")) owners.push_back(project.id);
    EXPECT_EQ(owners.size(), 3u);
    EXPECT_EQ(owners.back(), "old");

    store->removeAssets({"a"});
    EXPECT_TRUE(store->owners("a").empty());
    EXPECT_EQ(libs(store->project("new")), std::vector<std::string>{"b"});
}

TEST_F(ProjectsTest, AnUnreadableStoreStartsEmptyAndIsKeptAside) {
    const std::vector<std::string> unreadable{
        "not json", R"({"id": "p"})",
        R"([{"id": "p", "walls": []}, {"id": "q", "walls": [], "list": {"wall": "w"}}])"};
    fs::create_directories(file.parent_path());
    for (const std::string& bytes : unreadable) {
        SCOPED_TRACE(bytes);
        writeFile(file, bytes);
        auto store = open();
        EXPECT_TRUE(store->all().empty());
        store->sync(posted("p"));
        EXPECT_EQ(onDisk(), store->all()) << "the next save replaces it";
        EXPECT_EQ(readFile(folder / "service" / "projects.json.unreadable"), bytes);
    }
}

TEST(ProjectJSON, HostileValuesDoNotDecode) {
    const json good = posted("p", {wall("w1")}, list("w1", 1.5, {"a"})).json();
    ASSERT_EQ(Project::fromJSON(good), posted("p", {wall("w1")}, list("w1", 1.5, {"a"})));
    const std::vector<std::pair<std::string, json>> bad{
        {"/id", 7},
        {"/id", "p\x1b[2J"},
        {"/walls", json::object()},
        {"/walls/0/w", 1920.0},
        {"/walls/0/h", 9223372036854775808u},
        {"/walls/0/name", "Left\xc2\x85"},
        {"/list", json::array()},
        {"/list/at", "1"},
        {"/list/items/0/lib", 3},
        {"/list/items/0/id", "a\x7f"},
        {"/ties", {"a", "b\n"}},
    };
    for (const auto& [pointer, value] : bad) {
        json changed = good;
        changed[json::json_pointer(pointer)] = value;
        EXPECT_EQ(Project::fromJSON(changed), std::nullopt) << pointer;
    }
    for (const json& value : {json(nullptr), json(3), json("p"), json::array({good})})
        EXPECT_EQ(Project::fromJSON(value), std::nullopt);

    json lenient = good;
    lenient["name"] = 3;
    lenient["seen"] = "now";
    lenient["list"] = nullptr;
    lenient["ties"] = {"a", 3};
    EXPECT_EQ(Project::fromJSON(lenient), (Project{"p", "Untitled project", 0, {wall("w1")}, std::nullopt, {}}));
}

} // namespace
