#include "TrelkCore/FrameRate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace {

using Pieces = std::pair<double, std::optional<double>>;

TEST(FrameRate, ReadsANumberOrAFractionOfPositiveNumbers) {
    const std::pair<std::string, std::optional<Pieces>> cases[] = {
        {"30000/1001", Pieces{30000, 1001}},
        {"25", Pieces{25, std::nullopt}},
        {"29.97", Pieces{29.97, std::nullopt}},
        {" 24000 / 1001\n", Pieces{24000, 1001}},
        {"25//1", Pieces{25, 1}}, // empty pieces are left out
        {"25/ ", Pieces{25, std::nullopt}},
        {"x/25", std::nullopt}, // every piece must be a number
        {"25/1x", std::nullopt},
        {"0/1", std::nullopt},
        {"25/0", std::nullopt},
        {"-25/1", std::nullopt},
        {"1/2/3", std::nullopt},
        {"1e300/1e-300", std::nullopt}, // endless
        {"1e-300/1e300", std::nullopt}, // nothing
        {"nan", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE('"' + text + '"');
        const std::optional<FrameRate> rate = FrameRate::parse(text);
        ASSERT_EQ(rate.has_value(), expected.has_value());
        if (!rate) continue;
        EXPECT_EQ(rate->numerator, expected->first);
        EXPECT_EQ(rate->denominator, expected->second);
    }
}

TEST(FrameRate, ANominalRateIsTheSteadyOneAVaryingStreamKeepsTo) {
    const FrameRate thirty{30, 1};
    const std::tuple<double, std::optional<FrameRate>, std::string> cases[] = {
        {22.88, thirty, "30"},                          // a 30 fps clock that dropped frames
        {30.64699205448354, thirty, "30"},              // timestamps jittering around 1/30 s
        {30.64699205448354, FrameRate{90000, 1}, "30"}, // a base that is no camera's rate
        {29.5, std::nullopt, "30000/1001"},
        {27.8, FrameRate{120, 1}, "28"}, // 30 then 24: far from any common rate
        {12.4, FrameRate{25, 1}, "12"},
        {0.2, std::nullopt, "1"},
        {0, FrameRate{25, 1}, "25"},
        {std::nan(""), std::nullopt, "30"},
    };
    for (const auto& [average, base, text] : cases) {
        SCOPED_TRACE(average);
        EXPECT_EQ(FrameRate::nominal(average, base).text(), text);
    }
}

} // namespace
