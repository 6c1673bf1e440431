#include "TrelkCore/Version.h"

#include "TrelkCore/Build.h"

#include <gtest/gtest.h>

TEST(Version, ParsesTwoOrThreeNumbers) {
    const std::pair<std::string, std::optional<Version>> cases[] = {
        {"1.4", Version{1, 4, 0}},
        {"1.4.1", Version{1, 4, 1}},
        {"v2.0.1", Version{2, 0, 1}},
        {" v3.1 ", Version{3, 1, 0}},
        {"\t\n3.1\r\n", Version{3, 1, 0}},
        {"0.0", Version{0, 0, 0}},
        {"007.08.09", Version{7, 8, 9}},
        {"2147483647.0.2147483647", Version{2147483647, 0, 2147483647}},
        {"1.+2", Version{1, 2, 0}},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"v", std::nullopt},
        {"1", std::nullopt},
        {"v1", std::nullopt},
        {"vv3.1", std::nullopt},
        {"V3.1", std::nullopt},
        {"v 3.1", std::nullopt},
        {"1..2", std::nullopt},
        {"1.2.", std::nullopt},
        {".1.2", std::nullopt},
        {"1.2.3.4", std::nullopt},
        {"1.-2", std::nullopt},
        {"1.2a", std::nullopt},
        {"1.2-beta", std::nullopt},
        {"1 .2", std::nullopt},
        {"1.0x10", std::nullopt},
        {"2147483648.0", std::nullopt},
        {"1.99999999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(Version::parse(text), expected) << '"' << text << '"';
    }
}

TEST(Version, OrdersByMajorThenMinorThenPatch) {
    EXPECT_LT(*Version::parse("1.4"), *Version::parse("1.4.1"));
    EXPECT_GT(*Version::parse("2.0.0"), *Version::parse("1.99.99"));
    EXPECT_GT(*Version::parse("1.10"), *Version::parse("1.9.9"));
    EXPECT_EQ(*Version::parse("v1.4"), *Version::parse("1.4.0"));
}

TEST(Version, DescriptionIsThreeDottedNumbers) {
    EXPECT_EQ(Version::parse("1.4")->description(), "1.4.0");
    EXPECT_EQ(Version::parse("v007.8.09")->description(), "7.8.9");
    EXPECT_EQ(Version{}.description(), "0.0.0");
}

TEST(TrelkInfo, CurrentIsTheBuildVersion) {
    ASSERT_TRUE(Version::parse(Build::version)) << Build::version;
    EXPECT_EQ(TrelkInfo::current(), *Version::parse(Build::version));
}
