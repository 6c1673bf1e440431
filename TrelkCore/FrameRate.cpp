#include "TrelkCore/FrameRate.h"

#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

// The rates cameras and phones record at.
constexpr FrameRate commonRates[] = {{24000, 1001}, {24, 1},  {25, 1},  {30000, 1001}, {30, 1},
                                     {48, 1},       {50, 1},  {60000, 1001}, {60, 1},  {100, 1},
                                     {120000, 1001}, {120, 1}};
constexpr double nearCommon = 0.05;
// A clock that drops frames under load averages below its rate, never far above it.
constexpr double leastOfBase = 0.6;
constexpr double mostOfBase = 1.05;
constexpr FrameRate fallback{30, 1};

bool isCommon(const FrameRate& rate) {
    return std::ranges::any_of(commonRates, [&](const FrameRate& common) { return common.fps() == rate.fps(); });
}

} // namespace

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

FrameRate FrameRate::nominal(double average, std::optional<FrameRate> base) {
    if (!std::isfinite(average) || average <= 0) return base && isCommon(*base) ? *base : fallback;
    if (base && isCommon(*base) && average >= base->fps() * leastOfBase && average <= base->fps() * mostOfBase)
        return *base;
    const FrameRate* nearest = std::ranges::min_element(commonRates, {}, [&](const FrameRate& common) {
        return std::abs(common.fps() - average);
    });
    if (std::abs(nearest->fps() - average) <= nearest->fps() * nearCommon) return *nearest;
    return {std::max(1.0, std::min(std::round(average), 1e6)), 1};
}

std::string FrameRate::text() const {
    const auto whole = [](double value) { return std::to_string(int64_t(std::min(value, 1e15))); };
    if (!denominator || *denominator == 1) return whole(numerator);
    return whole(numerator) + "/" + whole(*denominator);
}
