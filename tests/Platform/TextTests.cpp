#include "TrelkCore/Platform/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals; // for texts holding NUL bytes

TEST(TextValidUTF8, AcceptsWellFormedSequencesOfEveryLength) {
    const std::vector<std::string> texts = {
        "",
        "plain ASCII",
        "\0"s,
        "\x7F",
        "caf\xC3\xA9",             // é
        "\xC2\x80",                // U+0080, the lowest 2-byte
        "\xDF\xBF",                // U+07FF
        "\xE0\xA0\x80",            // U+0800, the lowest 3-byte
        "\xE2\x80\xA6 \xC2\xB7",   // … ·
        "\xED\x9F\xBF",            // U+D7FF, just below the surrogates
        "\xEE\x80\x80",            // U+E000, just above them
        "\xEF\xBF\xBF",            // U+FFFF
        "\xF0\x90\x80\x80",        // U+10000, the lowest 4-byte
        "\xF0\x9F\x98\x80",        // 😀
        "\xF4\x8F\xBF\xBF",        // U+10FFFF, the highest
    };
    for (const std::string& text : texts) EXPECT_TRUE(Text::validUTF8(text)) << testing::PrintToString(text);
}

TEST(TextValidUTF8, RefusesOverlongSurrogatesTooHighAndTruncatedSequences) {
    const std::vector<std::string> texts = {
        "\xC0\x80",           // overlong NUL
        "\xC1\xBF",           // overlong U+007F
        "\xE0\x80\x80",       // overlong
        "\xE0\x9F\xBF",       // overlong U+07FF
        "\xF0\x80\x80\x80",   // overlong
        "\xF0\x8F\xBF\xBF",   // overlong U+FFFF
        "\xED\xA0\x80",       // U+D800
        "\xED\xBF\xBF",       // U+DFFF
        "\xF4\x90\x80\x80",   // U+110000
        "\xF5\x80\x80\x80",   // lead byte past U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFE",
        "\xFF",
        "\x80",               // continuation without lead
        "a\xBF",
        "\xC3",               // truncated
        "caf\xC3",
        "\xE2\x80",
        "\xF0\x9F\x98",
        "\xC3(",              // lead followed by a non-continuation
        "\xE2(\xA1",
        "\xF0\x9F(\x80",
        "\xF0\x9F\x98(",
        "\xC3\xA9\xA9",       // one continuation too many
    };
    for (const std::string& text : texts) EXPECT_FALSE(Text::validUTF8(text)) << testing::PrintToString(text);
}

TEST(TextParseInteger, ReadsSignedDecimalsToTheEdgesOf64Bits) {
    const std::vector<std::pair<std::string, std::optional<int64_t>>> cases = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"-0", 0},
        {"+0", 0},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"+9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"+9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"18446744073709551615", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"--1", std::nullopt},
        {"++1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1a", std::nullopt},
        {"a1", std::nullopt},
        {"0x10", std::nullopt},
        {"1.5", std::nullopt},
        {"1e3", std::nullopt},
        {"\xD9\xA1", std::nullopt}, // ARABIC-INDIC DIGIT ONE
        {"1\0"s, std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(Text::parseInteger(text), value) << testing::PrintToString(text);
}

TEST(TextPercentDecoded, DecodesEscapesOnceAndRefusesBrokenOnesAndNonUTF8) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"", ""},
        {"plain", "plain"},
        {"a%20b", "a b"},
        {"%41%42", "AB"},
        {"%c3%a9t%C3%A9", "\xC3\xA9t\xC3\xA9"},
        {"+", "+"},
        {"%25", "%"},
        {"%2541", "%41"},
        {"%00", "\0"s},
        {"%", std::nullopt},
        {"%4", std::nullopt},
        {"a%", std::nullopt},
        {"ab%4", std::nullopt},
        {"%zz", std::nullopt},
        {"%G0", std::nullopt},
        {"%0G", std::nullopt},
        {"% 1", std::nullopt},
        {"%FF", std::nullopt},
        {"%C3", std::nullopt},
        {"%ED%A0%80", std::nullopt},
        {"\xFF", std::nullopt},
    };
    for (const auto& [text, decoded] : cases)
        EXPECT_EQ(Text::percentDecoded(text), decoded) << testing::PrintToString(text);
}

} // namespace

TEST(TextTerminalSafe, EscapesControlsAndBytesThatAreNotUTF8AndKeepsTheRest) {
    EXPECT_EQ(Text::terminalSafe("clip\x1b[31m.mov"), "clip\\x1b[31m.mov");
    EXPECT_EQ(Text::terminalSafe("a\tb\x7f" "c\xc2\x9b" "d"), "a\\x09b\\x7fc\\xc2\\x9bd");
    EXPECT_EQ(Text::terminalSafe("caf\xe9 · caf\xc3\xa9"), "caf\\xe9 · caf\xc3\xa9");
    EXPECT_EQ(Text::terminalSafe(""), "");
}

TEST(Text, HTTPDatesAreEnglishWhateverTheLocale) {
    EXPECT_EQ(Text::httpDate(std::chrono::system_clock::from_time_t(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(Text, ByteCountsInDecimalUnitsAtTheirEdges) {
    const std::vector<std::pair<int64_t, std::string>> counts{
        {0, "0 bytes"},          {1, "1 byte"},         {999, "999 bytes"},        {1000, "1 KB"},
        {1049, "1 KB"},          {1050, "1.1 KB"},      {999'949, "999.9 KB"},     {999'950, "1 MB"},
        {1'234'567, "1.2 MB"},   {3'400'000'000, "3.4 GB"}, {80'000'000'000, "80 GB"},
        {INT64_MAX, "9.2 EB"}};
    for (const auto& [bytes, text] : counts) EXPECT_EQ(Text::byteCount(bytes), text) << bytes;
}
