#include "TrelkCore/Library/Details.h"
#include "TrelkCore/Platform/Text.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono;

namespace {

// The formatters follow the default locale and time zone: fix both.
class Details : public ::testing::Test {
protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    }
};

// 2026-12-09T10:00:00Z
const system_clock::time_point december9 = system_clock::from_time_t(1796810400);

Asset asset(std::string file, int64_t bytes) {
    Asset made;
    made.file = std::move(file);
    made.bytes = bytes;
    made.modified = december9;
    return made;
}

::Details::Facts facts(int64_t w, int64_t h, double fps, double duration, std::string codec, bool audio) {
    ::Details::Facts made;
    made.w = w, made.h = h, made.fps = fps, made.duration = duration, made.codec = std::move(codec), made.audio = audio;
    return made;
}

std::vector<std::string> labels(const std::vector<::Details::Line>& lines) {
    std::vector<std::string> found;
    for (const auto& line : lines) found.push_back(line.first);
    return found;
}

TEST_F(Details, NumbersReadAsWritten) {
    const std::vector<std::pair<double, std::string>> clocks = {
        {59.5, "1:00"}, {3599.4, "59:59"}, {3599.5, "1:00:00"}, {65, "1:05"}, {3725, "1:02:05"},
        {0, "0:00"}, {-30, "0:00"}, {std::numeric_limits<double>::quiet_NaN(), "0:00"},
        {1e300, "2500000000000000:00:00"},
    };
    for (const auto& [seconds, text] : clocks) EXPECT_EQ(::Details::clock(seconds), text) << seconds;

    EXPECT_EQ(::Details::bitrate(1'250'000, 1), "10.0 Mb/s");
    EXPECT_EQ(::Details::bitrate(1000, 8), "1 kb/s");
    EXPECT_EQ(::Details::bitrate(250'000'000, 1), "2.00 Gb/s");
    EXPECT_EQ(::Details::bitrate(124'999, 1), "1000 kb/s"); // rounded, still below 10^6
    for (const auto& [bytes, seconds] : std::vector<std::pair<int64_t, double>>{
             {0, 1}, {-5, 1}, {100, 0}, {100, -1}, {INT64_MAX, 1e-320},
             {100, std::numeric_limits<double>::quiet_NaN()}})
        EXPECT_EQ(::Details::bitrate(bytes, seconds), std::nullopt) << bytes << " " << seconds;

    EXPECT_EQ(::Details::codec("avc1"), "H.264");
    EXPECT_EQ(::Details::codec("ff:vp9"), "VP9");
    EXPECT_EQ(::Details::codec("abcd "), "abcd");
    EXPECT_EQ(::Details::codec("hap1"), "hap1"); // codes are case-sensitive
}

TEST_F(Details, DatesFollowTheLocale) {
    EXPECT_EQ(Text::dateTime(december9), "Dec 9, 2026, 10:00\u202fAM");
    const std::vector<std::pair<double, std::string>> relative = {
        {-300, "5 minutes ago"}, {-3700, "1 hour ago"}, {2 * 86400, "in 2 days"}, {-10, "10 seconds ago"},
        {-400 * 86400.0, "1 year ago"}, {std::numeric_limits<double>::infinity(), "in 0 seconds"},
    };
    for (const auto& [seconds, text] : relative) EXPECT_EQ(Text::relativeTime(seconds), text) << seconds;
}

TEST_F(Details, EachKindGetsItsLines) {
    Asset still = asset("photo.jpg", 1'200'000);
    still.still = Asset::Size{4000, 3000};
    const auto stillLines = ::Details::lines(still, facts(1, 1, 0, 5, "jpeg", true));
    EXPECT_EQ(stillLines, (std::vector<::Details::Line>{{"Resolution", "4000 × 3000"}, {"Format", "JPEG"},
                                                        {"File size", "1.2 MB"},
                                                        {"Added", "Dec 9, 2026, 10:00\u202fAM"}}));

    Asset plain = asset("clip.mov", 0);
    EXPECT_EQ(labels(::Details::lines(plain, std::nullopt)), (std::vector<std::string>{"File size", "Added"}));
    plain.fps = 25;
    EXPECT_EQ(::Details::lines(plain, std::nullopt)[0], (::Details::Line{"Frame rate", "25 fps"}));

    Asset package = asset("show.wide-1920.mp4", 2'500'000);
    package.master = Asset::Size{7680, 1080};
    package.strips = {{"a", 0, 3840}, {"b", 3840, 3840}};
    package.alpha = true;
    const auto packageLines = ::Details::lines(package, facts(1920, 270, 29.97002997, 2, "avc1", true), december9 + hours(1));
    EXPECT_EQ(packageLines, (std::vector<::Details::Line>{
        {"Master", "7680 × 1080 · 2 strips"}, {"Wide file", "1920 × 270"}, {"Codec", "H.264 with alpha"},
        {"Frame rate", "29.97 fps"}, {"Duration", "0:02"}, {"File size", "2.5 MB"}, {"Bitrate", "10.0 Mb/s"},
        {"Audio", "Yes"}, {"Added", "Dec 9, 2026, 11:00\u202fAM"}}));

    // A set with facts lists its parts, not one resolution; facts without values add only Audio.
    Asset set = asset("left.mp4", -1);
    set.parts = {{"left.mp4", "left.mp4", 1920, 1080, 2}, {"right.mp4", "right.mp4", 1280, 720, 2}};
    EXPECT_EQ(::Details::lines(set, ::Details::Facts{})[0], (::Details::Line{"Tiled set", "2 parts · 1920 × 1080 + 1280 × 720"}));
    EXPECT_EQ(labels(::Details::lines(set, ::Details::Facts{})),
              (std::vector<std::string>{"Tiled set", "File size", "Audio", "Added"}));
}

} // namespace
