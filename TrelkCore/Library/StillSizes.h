#pragma once
#include "TrelkCore/MediaKinds.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// Sizes of stills already read, by path, size and time, so that an unchanged library is not
// read again on the next scan.
class StillSizes {
public:
    static constexpr size_t most = 5000;

    static StillSizes& shared();
    static std::string key(const std::filesystem::path& path);

    std::optional<MediaKinds::Size> find(const std::string& key) const;
    // Empties the cache first when it holds more than `most`.
    void store(const std::string& key, MediaKinds::Size size);

private:
    mutable std::mutex lock; // guards sizes
    std::map<std::string, MediaKinds::Size> sizes;
};

namespace Library {

// The still's pixel size, orientation applied; none when it cannot be read.
std::optional<MediaKinds::Size> stillSize(const std::filesystem::path& path);

} // namespace Library
