#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// A master kept in the library's "Masters" folder after it was made.
struct KeptMaster {
    std::filesystem::path url;
    int64_t bytes = 0;
    std::optional<std::string> output; // the folder of its renditions, when a record says so

    bool operator==(const KeptMaster&) const = default;
};
