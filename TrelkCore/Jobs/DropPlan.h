#pragma once
#include "TrelkCore/Jobs/Grouping.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A drop of masters waiting for the user's word: the files in the order they will be queued,
// the grouping proposed for them and the ones the user may pick instead.
struct DropPlan {
    std::vector<std::filesystem::path> files;
    Grouping grouping = Grouping::separate;
    std::vector<Grouping> choices;

    explicit DropPlan(const std::vector<std::filesystem::path>& files);

    // Left to right by their names, then the rest in the file browser's order.
    static std::vector<std::filesystem::path> ordered(const std::vector<std::filesystem::path>& urls);

    std::vector<std::string> names() const;
    // The names of the files that are not stills.
    std::vector<std::string> videoNames() const;
    std::vector<std::string> labels() const;
    std::string setName() const;
    // What will be made, in one line: "5 files → 1 still + 1 set + 1 video".
    std::string summary() const;

    // "2 videos + 1 still"; empty for no names.
    static std::string things(const std::vector<std::string>& names);
    // "1 set", "3 videos"; empty for none.
    static std::string count(int64_t n, std::string_view word);

    // Moves one file; a position out of range for the file is ignored, one for its place clamped.
    void move(int64_t from, int64_t to);

    bool operator==(const DropPlan&) const = default;
};
