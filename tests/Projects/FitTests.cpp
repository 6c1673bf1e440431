#include "TrelkCore/Projects/Fit.h"

#include <gtest/gtest.h>

namespace {

using Notes = std::vector<std::string>;

WallInfo wall(int64_t w, int64_t h, const std::string& fps = "") { return {"w", "Wall", w, h, fps}; }

TEST(Fit, RatesAreEveryNumberInTheWallsText) {
    EXPECT_FALSE(Fit::fpsMatches(25, "30"));
    EXPECT_TRUE(Fit::fpsMatches(29.97, "30")) << "within 0.05";
    EXPECT_FALSE(Fit::fpsMatches(29.97, "30000/1001")) << "two numbers, not their quotient";
    EXPECT_TRUE(Fit::fpsMatches(50, "25/50"));
    EXPECT_TRUE(Fit::fpsMatches(24, "24, 25 fps"));
    EXPECT_TRUE(Fit::fpsMatches(24, "any"));
    EXPECT_TRUE(Fit::fpsMatches(24, "0 / . / 1.2.3")) << "no rate above zero that parses";
}

TEST(Fit, RateLabelsHaveAtMostTwoDecimals) {
    EXPECT_EQ(Fit::fpsLabel(25), "25");
    EXPECT_EQ(Fit::fpsLabel(29.97002997), "29.97");
    EXPECT_EQ(Fit::fpsLabel(23.976), "23.98");
    EXPECT_EQ(Fit::fpsLabel(59.999), "60");
    EXPECT_EQ(Fit::fpsLabel(12.5), "12.5");
}

TEST(Fit, NotesTellSizeThenRate) {
    EXPECT_EQ(Fit::notes(1920, 1080, 25, wall(3840, 2160, "25")),
              Notes{"Smaller · 1920 × 1080 on a 3840 × 2160 wall, scaled up"});
    EXPECT_EQ(Fit::notes(3840, 2160, std::nullopt, wall(1920, 1080)),
              Notes{"Larger · 3840 × 2160 on a 1920 × 1080 wall, scaled down"});
    EXPECT_EQ(Fit::notes(1920, 1080, 25, wall(1920, 1200, "30")),
              (Notes{"Shape 1920 × 1080 · the wall is 1920 × 1200", "25 fps · the wall asks for 30"}));
    EXPECT_EQ(Fit::notes(1920, 1080, 29.97, wall(1920, 1080, "30")), Notes{});
    EXPECT_EQ(Fit::notes(1920, 0, 25, wall(1920, 1080, "30")), Notes{});
    EXPECT_EQ(Fit::notes(1920, 1080, 25, wall(-1, 1080, "30")), Notes{});
}

} // namespace
