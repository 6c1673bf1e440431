#include "TrelkCore/StoreFile.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

TEST(StoreFile, WhatCannotBeReadIsSetAsideBeforeTheFirstSave) {
    TempFolder temp;
    const fs::path aside = temp / "store.json.unreadable";
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"too large", std::string(2000, 'x')},
        {"not the store's shape", "[1, 2]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(aside, "an older copy");
        writeFile(temp / "store.json", c.bytes);
        StoreFile store(temp / "store.json", 1000, 0600);
        std::optional<std::string> read = store.read();
        if (read) store.unreadable();
        EXPECT_EQ(readFile(temp / "store.json"), c.bytes) << "nothing is touched before a save";
        store.save("{}");
        EXPECT_EQ(readFile(aside), c.bytes) << "the older copy is replaced";
        EXPECT_EQ(readFile(temp / "store.json"), "{}");
        store.save("{\"a\": 1}");
        EXPECT_EQ(readFile(aside), c.bytes) << "set aside once";
    }
}

TEST(StoreFile, AStoreThatReadsOrIsMissingIsSimplyReplaced) {
    TempFolder temp;
    StoreFile missing(temp / "missing.json", 1000, 0600);
    EXPECT_EQ(missing.read(), std::nullopt);
    missing.save("{}");
    writeFile(temp / "good.json", "{}");
    StoreFile good(temp / "good.json", 1000, 0600);
    EXPECT_EQ(good.read(), "{}");
    good.save("[]");
    EXPECT_EQ(readFile(temp / "good.json"), "[]");
    EXPECT_EQ(modeOf(temp / "missing.json"), 0600u);
    EXPECT_FALSE(fs::exists(temp / "missing.json.unreadable"));
    EXPECT_FALSE(fs::exists(temp / "good.json.unreadable"));
}

} // namespace

namespace {

// tokens.json is a store: under umask 0 another user could otherwise swap the folder's files.
TEST(StoreFile, ItsFolderIsMadeForThisUserAloneWhateverTheUmask) {
    TempFolder folder;
    const mode_t before = ::umask(0);
    StoreFile store(folder / "data" / "vorlane Trelk" / "tokens.json", 1024, 0600);
    store.save("{}");
    ::umask(before);
    for (const auto& made : {folder / "data", folder / "data" / "vorlane Trelk"})
        EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_all) << made;
    EXPECT_EQ(std::filesystem::status(store.path()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

} // namespace
