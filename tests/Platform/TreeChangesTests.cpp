#include "TrelkCore/Platform/TreeChanges.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(TreeChanges, TellsOfVisibleChangesAnywhereInTheTreeAndOfAFolderThatComesAndGoes) {
    TempFolder folder;
    const fs::path root = folder / "library";
    fs::create_directories(root / "Shoot");
    TreeChanges changes(root);
    EXPECT_TRUE(changes.changed()) << "the first time";
    EXPECT_FALSE(changes.changed());

    writeFile(root / "Shoot" / "clip.mp4", "x");
    EXPECT_TRUE(changes.changed());
    EXPECT_FALSE(changes.changed());
    writeFile(root / ".making-j1", "work");
    EXPECT_FALSE(changes.changed()) << "hidden items are not the library";

    fs::create_directories(root / "New" / "Inner");
    EXPECT_TRUE(changes.changed());
    writeFile(root / "New" / "Inner" / "clip.mp4", "x");
    EXPECT_TRUE(changes.changed()) << "folders that came are watched too";
    EXPECT_FALSE(changes.changed());

    fs::rename(root, folder / "unplugged");
    EXPECT_TRUE(changes.changed());
    EXPECT_TRUE(changes.changed()) << "while it is missing, every time";
    fs::rename(folder / "unplugged", root);
    EXPECT_TRUE(changes.changed());
    EXPECT_FALSE(changes.changed());
}
