#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// A frame rate as manifests and the FFmpeg programs write it: a number ("25", "29.97") or a
// fraction ("30000/1001").
struct FrameRate {
    double numerator;
    std::optional<double> denominator; // none when written as one number

    // White space around the pieces is allowed and empty pieces are left out ("25/" is 25); none
    // unless there are one or two pieces, each a positive number, and the rate is finite.
    static std::optional<FrameRate> parse(std::string_view text);

    // The rate to 2 decimals: "25", "29.97".
    static std::string label(double fps);

    // The rate as whole numbers below 2³¹, for a clock: "30000/1001" as it is, any other rate
    // in thousandths of fps, between 1 and a million frames a second.
    static std::pair<int64_t, int64_t> fraction(std::string_view text, double fps);
    // The steady rate a stream of varying frame durations keeps to, from its average rate and the
    // rate all its timestamps fit (when known). Always a fraction of whole numbers.
    static FrameRate nominal(double average, std::optional<FrameRate> base);
    // "30000/1001", or "30" when the denominator is 1 or there is none.
    std::string text() const;

    double fps() const { return denominator ? numerator / *denominator : numerator; }
};
