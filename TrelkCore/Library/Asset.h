#pragma once
#include "TrelkCore/MediaKinds.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// One entry of the library: a plain video, a still, a package of wide file and strips, or a set.
struct Asset {
    using Size = MediaKinds::Size;
    using Strip = MediaKinds::Strip;
    struct Part {
        std::string file;
        std::filesystem::path url;
        int64_t w = 0;
        int64_t h = 0;
        double duration = 0;
        bool operator==(const Part&) const = default;
    };

    std::string id;
    std::string name;
    std::filesystem::path folder; // holds the asset's files (a package's or set's manifest)
    std::string file;             // in folder: the file, a package's wide file, a set's first part
    int64_t bytes = 0;            // media files only, manifests not counted
    std::optional<Size> master;   // packages only
    std::vector<Strip> strips;
    std::chrono::system_clock::time_point modified;
    std::optional<double> fps;
    std::vector<Part> parts;
    std::optional<std::filesystem::path> manifest;
    bool ordered = false;
    std::optional<Size> still;
    bool alpha = false;

    bool isSet() const { return !parts.empty(); }
    bool isPackage() const { return master.has_value(); }
    bool isStill() const { return still.has_value(); }

    // The listing object the browser gets.
    nlohmann::json json() const;

    bool operator==(const Asset&) const = default;
};
