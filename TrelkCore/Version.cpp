#include "TrelkCore/Version.h"

#include "TrelkCore/Build.h"
#include "TrelkCore/Platform/Text.h"

#include <limits>
#include <vector>

namespace {

std::vector<std::string_view> pieces(std::string_view text) {
    std::vector<std::string_view> result;
    for (size_t dot; (dot = text.find('.')) != std::string_view::npos; text.remove_prefix(dot + 1))
        result.push_back(text.substr(0, dot));
    result.push_back(text);
    return result;
}

std::optional<int> number(std::string_view piece) {
    std::optional<int64_t> value = Text::parseInteger(piece);
    if (!value || *value < 0 || *value > std::numeric_limits<int>::max()) return std::nullopt;
    return int(*value);
}

} // namespace

std::optional<Version> Version::parse(std::string_view text) {
    text = Text::trim(text, " \t\n\r\v\f");
    if (text.starts_with('v')) text.remove_prefix(1);
    std::vector<std::string_view> parts = pieces(text);
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    std::vector<int> numbers;
    for (std::string_view part : parts) {
        std::optional<int> value = number(part);
        if (!value) return std::nullopt;
        numbers.push_back(*value);
    }
    return Version{numbers[0], numbers[1], numbers.size() == 3 ? numbers[2] : 0};
}

std::string Version::description() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

namespace TrelkInfo {

Version current() {
    return Version::parse(Build::version).value_or(Version{});
}

} // namespace TrelkInfo
