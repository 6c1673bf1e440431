#pragma once
#include <compare>
#include <optional>
#include <string>
#include <string_view>

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;

    // "1.4", "v2.0.1", " 3.1 "; none for anything else.
    static std::optional<Version> parse(std::string_view text);

    std::string description() const;
    auto operator<=>(const Version&) const = default;
};

namespace TrelkInfo {

// This program's own version, fixed when it was built; 0.0.0 if that text does not parse.
Version current();

} // namespace TrelkInfo
