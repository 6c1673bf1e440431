#pragma once
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The file a store keeps itself in. Stores never fail, and they never destroy what they could
// not read either: a file that is there but does not read as the store (too large, not JSON, the
// wrong shape) is set aside under its name with ".unreadable" before the first save replaces it.
class StoreFile {
public:
    StoreFile(std::filesystem::path path, int64_t limit, mode_t mode);

    // The file's bytes; none when it is missing or cannot be read, and then it is set aside.
    std::optional<std::string> read();
    // The bytes read are not the store: they are set aside before the first save.
    void unreadable();
    // Replaces the file durably; a failure leaves the file as it was and the store in memory.
    void save(std::string_view bytes);

    const std::filesystem::path& path() const { return file; }

private:
    std::filesystem::path file;
    int64_t limit;
    mode_t mode;
    bool toSetAside = false; // what is there could not be read and is not kept yet
};
