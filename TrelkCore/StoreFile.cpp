#include "TrelkCore/StoreFile.h"

#include "TrelkCore/Platform/Files.h"

#include <exception>

namespace fs = std::filesystem;

StoreFile::StoreFile(fs::path path, int64_t limit, mode_t mode) : file(std::move(path)), limit(limit), mode(mode) {}

std::optional<std::string> StoreFile::read() {
    std::optional<std::string> bytes = Files::read(file, limit);
    std::error_code error;
    if (!bytes && fs::symlink_status(file, error).type() != fs::file_type::not_found) unreadable();
    return bytes;
}

void StoreFile::unreadable() { toSetAside = true; }

void StoreFile::save(std::string_view bytes) {
    if (toSetAside) {
        std::error_code error;
        fs::path aside = file;
        aside += ".unreadable";
        fs::rename(file, aside, error);
        if (error && error != std::errc::no_such_file_or_directory) return; // never over what could not be kept
        toSetAside = false;
    }
    try {
        // tokens.json beside the others: a folder another user may write would let them swap it.
        Files::createPrivateFolders(file.parent_path());
        Files::writeAtomically(file, bytes, mode);
    } catch (const std::exception&) {
        // The store in memory stays as it is for this run.
    }
}
