#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// How the files of one drop are made into sets: by their names, all as one cue, or none.
enum class Grouping { byName, oneCue, separate };

// Every grouping, in the order the drop sheet offers them.
inline constexpr std::array<Grouping, 3> allGroupings{Grouping::byName, Grouping::oneCue, Grouping::separate};

namespace GroupingNames {
struct Names {
    std::string_view raw;   // the stable text form
    std::string_view label; // as the drop sheet's picker shows it
};
// In the order of the cases.
inline constexpr std::array<Names, 3> all{{{"byName", "By name"}, {"oneCue", "One cue"}, {"separate", "Separate"}}};
} // namespace GroupingNames

constexpr std::string_view rawValue(Grouping grouping) { return GroupingNames::all[size_t(grouping)].raw; }
constexpr std::string_view label(Grouping grouping) { return GroupingNames::all[size_t(grouping)].label; }

// The grouping whose text form this is; none for any other text.
constexpr std::optional<Grouping> groupingFromRaw(std::string_view raw) {
    for (Grouping grouping : allGroupings)
        if (rawValue(grouping) == raw) return grouping;
    return std::nullopt;
}
