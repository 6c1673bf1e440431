#include "TrelkCore/Platform/Files.h"

#include "tests/support/Limits.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

// Sets the process umask for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous(umask(mask)) {}
    ~UmaskScope() { umask(previous); }

private:
    mode_t previous;
};


} // namespace

TEST(Files, WriteAtomicallyGivesExactlyTheModeAsked) {
    TempFolder folder;
    const std::pair<mode_t, mode_t> cases[] = {{0, 0600}, {0, 0640}, {077, 0644}, {022, 0666}};
    for (const auto& [mask, mode] : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << "umask " << mask << " mode " << mode);
        fs::path path = folder / "file";
        {
            UmaskScope scope(mask);
            Files::writeAtomically(path, "bytes", mode);
        }
        EXPECT_EQ(modeOf(path), mode);
        EXPECT_EQ(readFile(path), "bytes");
    }
}

TEST(Files, WriteAtomicallyDoesNotKeepTheModeOfTheFileItReplaces) {
    TempFolder folder;
    fs::path path = folder / "tokens.json";
    writeFile(path, "old");
    chmod(path.c_str(), 0666);
    UmaskScope scope(0);
    Files::writeAtomically(path, "new", 0600);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"tokens.json"});
}

TEST(Files, WriteAtomicallyCreatesMissingParents) {
    TempFolder folder;
    fs::path path = folder / "a" / "b c" / "d" / "file.json";
    Files::writeAtomically(path, "{}", 0600);
    EXPECT_EQ(readFile(path), "{}");
    EXPECT_EQ(namesIn(path.parent_path()), std::set<std::string>{"file.json"});
}

TEST(Files, WriteAtomicallyWritesEmptyAndLargeContents) {
    TempFolder folder;
    fs::path path = folder / "file";
    Files::writeAtomically(path, "", 0600);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    const std::string large(3 << 20, 'x');
    Files::writeAtomically(path, large, 0600);
    EXPECT_EQ(readFile(path), large);
}

TEST(Files, FailedWriteLeavesTheOldFileAndNoTemporary) {
    TempFolder folder;
    fs::path path = folder / "tokens.json";
    writeFile(path, "old contents");
    chmod(path.c_str(), 0644);
    {
        FileSizeLimit limit(1024);
        EXPECT_THROW(Files::writeAtomically(path, std::string(4096, 'x'), 0600), std::system_error);
    }
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(modeOf(path), 0644u);
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"tokens.json"});
}

TEST(Files, FailedRenameOntoAFolderLeavesItAndNoTemporary) {
    TempFolder folder;
    fs::path path = folder / "tokens.json";
    fs::create_directory(path);
    writeFile(path / "inside", "kept");
    EXPECT_THROW(Files::writeAtomically(path, "new", 0600), std::system_error);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(readFile(path / "inside"), "kept");
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"tokens.json"});
}

TEST(Files, WriteUnderARegularFileFailsAndLeavesIt) {
    TempFolder folder;
    writeFile(folder / "service", "not a folder");
    EXPECT_THROW(Files::writeAtomically(folder / "service" / "tokens.json", "{}", 0600),
                 std::system_error);
    EXPECT_EQ(readFile(folder / "service"), "not a folder");
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"service"});
}

TEST(Files, ReadReturnsTheWholeFileUpToTheLimit) {
    TempFolder folder;
    writeFile(folder / "empty", "");
    writeFile(folder / "ten", "0123456789");
    fs::create_directory(folder / "folder");
    EXPECT_EQ(Files::read(folder / "empty", 0), "");
    EXPECT_EQ(Files::read(folder / "ten", 10), "0123456789");
    EXPECT_EQ(Files::read(folder / "ten", 9), std::nullopt);
    EXPECT_EQ(Files::read(folder / "missing", 100), std::nullopt);
    EXPECT_EQ(Files::read(folder / "folder", 100), std::nullopt);
}

TEST(Files, ReadFollowsLinksToRegularFiles) {
    TempFolder folder;
    writeFile(folder / "target", "bytes");
    fs::create_symlink(folder / "target", folder / "link");
    fs::create_symlink(folder / "nowhere", folder / "dangling");
    EXPECT_EQ(Files::read(folder / "link", 100), "bytes");
    EXPECT_EQ(Files::read(folder / "dangling", 100), std::nullopt);
}

namespace {

// What the file route relies on: inside, a large file and the folder's own link are reached; a
// link on the way or at the end, and a way out, are not.
TEST(FilesBeneath, OpensOnlyWhatLiesBeneathWithNoLinkOnTheWay) {
    TempFolder folder, outside;
    const std::filesystem::path library = folder / "library";
    std::filesystem::create_directories(library / "Show");
    writeFile(library / "Show" / "clip.mov", "inside");
    writeFile(outside / "clip.mov", "outside");
    writeFile(library / "Show" / "large.mov", "");
    std::filesystem::resize_file(library / "Show" / "large.mov", int64_t(3) << 30); // past 2 GiB, sparse
    std::filesystem::create_directory_symlink(outside.path(), library / "Linked");
    std::filesystem::create_symlink(outside / "clip.mov", library / "Show" / "link.mov");
    std::filesystem::create_directory_symlink(library, folder / "through");

    EXPECT_TRUE(Files::openRegularBeneath(library, "Show/clip.mov"));
    EXPECT_TRUE(Files::openRegularBeneath(library, "Show/large.mov"));
    EXPECT_TRUE(Files::openRegularBeneath(folder / "through", "Show/clip.mov")) << "the folder itself may be a link";
    for (const char* relative : {"Linked/clip.mov", "Show/link.mov", "../outside/clip.mov", "Show/../../x", "Show",
                                 "/etc/passwd", ""})
        EXPECT_FALSE(Files::openRegularBeneath(library, relative)) << relative;
    EXPECT_TRUE(Files::beneath(library, library / "Show" / "link.mov")) << "a link itself may be moved away";
    EXPECT_FALSE(Files::beneath(library, library / "Linked" / "clip.mov"));
    EXPECT_FALSE(Files::beneath(library, outside / "clip.mov"));
}

} // namespace
