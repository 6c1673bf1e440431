#include "TrelkCore/FrameRate.h"

#include "TrelkCore/Platform/Text.h"

#include <algorithm>
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

namespace {

bool whole(double number) { return number == std::floor(number) && number < 0x1p31; }

} // namespace

std::pair<int64_t, int64_t> FrameRate::fraction(std::string_view text, double fps) {
    std::optional<FrameRate> rate = parse(text);
    if (rate && rate->denominator && whole(rate->numerator) && whole(*rate->denominator))
        return {int64_t(rate->numerator), int64_t(*rate->denominator)};
    const double clamped = std::isfinite(fps) ? std::clamp(fps, 1.0, 1e6) : 1.0;
    return {std::llround(clamped * 1000), 1000};
}

std::string FrameRate::label(double fps) {
    const double rounded = std::round(fps * 100) / 100;
    const double largestInteger = double(std::numeric_limits<int64_t>::max());
    if (rounded == std::trunc(rounded) && std::abs(rounded) < largestInteger) return std::to_string(int64_t(rounded));
    char text[32]; // the shortest text that reads back as the same double
    return std::string(text, std::to_chars(text, text + sizeof text, rounded).ptr);
}
