#pragma once
#include <filesystem>

// Moves, swaps and copies that never replace what is there and never show a half-made file.
namespace Files {

// Renames from to to, failing with EEXIST when to exists. Throws std::system_error.
void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Swaps two entries of one file system in one step. False where the file system cannot, and
// then nothing changed. Throws std::system_error.
bool exchange(const std::filesystem::path& a, const std::filesystem::path& b);

// Copies a regular file: written under a hidden temporary name beside to, synced, then renamed
// to to without replacing. Shares the blocks where the file system can, and otherwise copies in
// the kernel, so memory stays flat. Throws std::system_error.
void copyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// A second name for the file where the file system allows one, else a copy as above.
void linkOrCopy(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace Files
