#include "TrelkCore/FrameRate.h"

#include "TrelkCore/Platform/Text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

std::optional<FrameRate> FrameRate::parse(std::string_view text) {
    std::vector<double> numbers;
    for (std::string_view piece : Text::split(text, '/')) {
        const std::string_view trimmed = Text::trim(piece, " \t\r\n\v\f");
        if (trimmed.empty()) continue;
        std::optional<double> number = Text::parseDecimal(trimmed);
        if (!number || *number <= 0) return std::nullopt;
        numbers.push_back(*number);
    }
    if (numbers.empty() || numbers.size() > 2) return std::nullopt;
    const FrameRate rate{numbers[0], numbers.size() == 2 ? std::optional(numbers[1]) : std::nullopt};
    if (!(rate.fps() > 0) || !std::isfinite(rate.fps())) return std::nullopt;
    return rate;
}

std::string FrameRate::label(double fps) {
    const double rounded = std::round(fps * 100) / 100;
    const double largestInteger = double(std::numeric_limits<int64_t>::max());
    if (rounded == std::trunc(rounded) && std::abs(rounded) < largestInteger) return std::to_string(int64_t(rounded));
    char text[32]; // the shortest text that reads back as the same double
    return std::string(text, std::to_chars(text, text + sizeof text, rounded).ptr);
}
