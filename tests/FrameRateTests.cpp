#include "TrelkCore/FrameRate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

} // namespace
