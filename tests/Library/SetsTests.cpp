#include "TrelkCore/Library/Sets.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using json = nlohmann::json;
using Groups = std::map<std::string, std::vector<size_t>>;
using Names = std::vector<std::string>;

namespace {

TEST(SetNameKey, IsTheStemWithoutItsPositionWordAndSeparators) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Show_left.mov", "Show"},
        {"Show-Right.mov", "Show"},
        {"show centre.mp4", "show"},
        {"Show_CENTER.mov", "Show"},
        {"Show_middle_v2.mov", "Show v2"},
        {"Show_left copy.mov", "Show copy"},
        {"My.Show.left.mov", "My Show"},       // dots inside the stem are separators
        {"Show left.final.mov", "Show final"}, // only the last extension goes
        {"Show_left", "Show"},                 // no extension at all
        {" \tShow -_. left .mov", "Show"},
        {"Caf\xC3\xA9_left.mov", "Caf\xC3\xA9"},    // Café
        {"Caf\xC3\xA9left.mov", "Caf\xC3\xA9"},     // a non-ASCII letter does not join the word
        {"\xE5\xA3\x81 right.mp4", "\xE5\xA3\x81"}, // 壁
    };
    for (const auto& [name, key] : cases)
        EXPECT_EQ(SetName::key(name), key) << name;
}

TEST(SetNameKey, IsNoneWithoutAPositionWordOrWithNothingLeft) {
    const Names names = {
        "left.mov",     "Left_right.mov",     ".left",          "_left_.mov", "Show.mov", "Showleft.mov",
        "leftover.mov", "Show_rightmost.mov", "Show_lefty.mov", "",           ".mov",
    };
    for (const std::string& name : names)
        EXPECT_EQ(SetName::key(name), std::nullopt) << name;
}

TEST(SetNameGroups, KeepOnlyGroupsOfTwoOrMore) {
    EXPECT_EQ(SetName::groups({"Show_left.mov", "Show_right.mov", "Other_left.mov"}), (Groups{{"Show", {0, 1}}}));
    EXPECT_EQ(SetName::groups({"Show_left.mov"}), Groups{});
    EXPECT_EQ(SetName::groups({}), Groups{});
}

TEST(SetNameGroups, ListMembersInInputOrderAndSkipNamesWithoutKey) {
    const Names names = {"Show_right.mov", "Left_right.mov",   "clip.mov",       "Show_left.mov",
                         "Other_left.mov", "Other_centre.mov", "Other_right.mov"};
    EXPECT_EQ(SetName::groups(names), (Groups{{"Show", {0, 3}}, {"Other", {4, 5, 6}}}));
}

TEST(SetNameGroups, CompareKeysCaseSensitively) {
    EXPECT_EQ(SetName::groups({"Show_left.mov", "show_right.mov"}), Groups{});
}

TEST(SetNameGroups, CopyOfAPartHasItsOwnKey) {
    EXPECT_EQ(SetName::groups({"Show_left.mov", "Show_left copy.mov"}), Groups{});
}

TEST(SetNameGroups, DropAGroupWithARepeatedPositionWhole) {
    EXPECT_EQ(
        SetName::groups({"Show_left.mov", "Show-LEFT.mp4", "Show_right.mov", "Other_left.mov", "Other_right.mov"}),
        (Groups{{"Other", {3, 4}}}));
}

TEST(SetNameGroups, CountCenterAndCentreAsOnePosition) {
    EXPECT_EQ(SetName::groups({"Show_center.mov", "Show_centre.mov"}), Groups{});
    EXPECT_EQ(SetName::groups({"Show_center.mov", "Show_left.mov"}), (Groups{{"Show", {0, 1}}}));
}

TEST(SetNameOrder, PutsLeftCentreRightFirstThenTheRestByName) {
    EXPECT_EQ(SetName::order({"b_right.mov", "a_left.mov", "d.mov"}), (std::vector<size_t>{1, 0, 2}));
    EXPECT_EQ(SetName::order({"Show_RIGHT.mov", "Show_Middle.mov", "Show_left.mov"}), (std::vector<size_t>{2, 1, 0}));
    EXPECT_EQ(SetName::order({}), std::vector<size_t>{});
}

TEST(SetNameOrder, AcceptsAbbreviationsAndMid) {
    EXPECT_EQ(SetName::order({"x.mov", "c.mov", "wall_r.mov", "wall_l.mov"}), (std::vector<size_t>{3, 1, 2, 0}));
    EXPECT_EQ(SetName::order({"clip_r.mov", "clip_mid.mov"}), (std::vector<size_t>{1, 0}));
    // Letters inside words are not abbreviations.
    EXPECT_EQ(SetName::order({"rocks.mov", "clouds.mov", "lake.mov"}), (std::vector<size_t>{1, 2, 0}));
}

TEST(SetNameOrder, RanksANameByItsFirstMatchingPositionInOrderLeftCentreRight) {
    EXPECT_EQ(SetName::order({"b_centre.mov", "a_right_left.mov"}), (std::vector<size_t>{1, 0}));
}

TEST(SetNameOrder, SortsEqualRanksLikeTheFileBrowser) {
    EXPECT_EQ(SetName::order({"Clip 10.mov", "clip 9.mov"}), (std::vector<size_t>{1, 0}));
    EXPECT_EQ(SetName::order({"B left 2.mov", "a left 10.mov", "a left 9.mov"}), (std::vector<size_t>{2, 1, 0}));
}

TEST(SetNameOrder, KeepsInputOrderOfIdenticalNames) {
    EXPECT_EQ(SetName::order({"same.mov", "same.mov", "same.mov"}), (std::vector<size_t>{0, 1, 2}));
}

TEST(SetNameLabels, NameDistinctPositionsCapitalised) {
    EXPECT_EQ(SetName::labels({"Show_left.mov", "Show_right.mov"}), (Names{"Left", "Right"}));
    EXPECT_EQ(SetName::labels({"Show_RIGHT.mov", "Show_CENTER.mov", "Show_middle.mov"}),
              (Names{"Right", "Center", "Middle"}));
}

TEST(SetNameLabels, FallBackToStemsUnlessEveryNameHasItsOwnPosition) {
    const std::vector<std::pair<Names, Names>> cases = {
        {{"Show_left.mov", "Show_LEFT.mov"}, {"Show_left", "Show_LEFT"}},
        {{"Show_center.mov", "Show_centre.mov"}, {"Show_center", "Show_centre"}},
        {{"Show_left.mov", "Other.mov"}, {"Show_left", "Other"}},
        {{"Show_left.mov"}, {"Show_left"}},
        {{"a.b.mov", ".hidden"}, {"a.b", ".hidden"}},
        {{}, {}},
    };
    for (const auto& [names, stems] : cases)
        EXPECT_EQ(SetName::labels(names), stems) << testing::PrintToString(names);
}

TEST(SetNameCommon, IsTheSharedKey) {
    EXPECT_EQ(SetName::common({"Show_left.mov", "Show_centre.mov", "Show_right.mov"}), "Show");
    EXPECT_EQ(SetName::common({"Show_left.mov"}), "Show");
}

TEST(SetNameCommon, IsTheCommonStemPrefixWithoutTrailingSeparators) {
    EXPECT_EQ(SetName::common({"Intro_A.mov", "Intro_B.mov"}), "Intro");
    EXPECT_EQ(SetName::common({"Intro (1).mov", "Intro (2).mov"}), "Intro");
    EXPECT_EQ(SetName::common({"Show_left.mov", "Show_left copy.mov"}), "Show_left"); // two keys
    EXPECT_EQ(SetName::common({"Intro.mov"}), "Intro");
}

TEST(SetNameCommon, FallsBackToTheFirstStemWhenThePrefixIsTooShort) {
    EXPECT_EQ(SetName::common({"A1.mov", "B1.mov"}), "A1 set");
    EXPECT_EQ(SetName::common({"ab_1.mov", "ab_2.mov"}), "ab_1 set");
    EXPECT_EQ(SetName::common({"abc_1.mov", "abc_2.mov"}), "abc");
}

TEST(SetNameCommon, CutsAndCountsWholeCharacters) {
    // é and è share their first byte; the prefix must not keep half of them.
    EXPECT_EQ(SetName::common({"Fu\xC3\x9F\xC3\xA9.mov", "Fu\xC3\x9F\xC3\xA8.mov"}), "Fu\xC3\x9F");
    EXPECT_EQ(SetName::common({"A\xC3\xA9"
                               "1.mov",
                               "A\xC3\xA8"
                               "2.mov"}),
              "A\xC3\xA9"
              "1 set");
    // Øß is four bytes but two characters: too short.
    EXPECT_EQ(SetName::common({"\xC3\x98\xC3\x9F_1.mov", "\xC3\x98\xC3\x9F_2.mov"}), "\xC3\x98\xC3\x9F_1 set");
}

TEST(SetNameCommon, OfNoNamesIsAPlainName) { EXPECT_EQ(SetName::common({}), "set"); }

TEST(SetNameFileName, ReplacesPathCharactersAndNeverMakesAHiddenFile) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Show", "Show.vorlane-set.json"},   {".hidden", "set.hidden.vorlane-set.json"},
        {"a/b:c", "a-b-c.vorlane-set.json"}, {"/etc", "-etc.vorlane-set.json"},
        {"..", "set...vorlane-set.json"},    {"", "set.vorlane-set.json"},
    };
    for (const auto& [name, file] : cases)
        EXPECT_EQ(SetName::fileName(name), file) << name;
}

SetManifest sample() {
    SetManifest manifest("Show", {{"Show_left", "Show_left.mp4", 1920, 1080, 12.5},
                                  {"Show_right", "Show_right.mp4", 3840, 2160, 12.48}});
    return manifest;
}

// A valid manifest as generic JSON, for tests that spoil one field at a time.
json sampleJSON() { return json::parse(sample().data()); }

std::optional<SetManifest> readText(const TempFolder& folder, std::string_view text) {
    const std::filesystem::path path = folder / "Show.vorlane-set.json";
    writeFile(path, text);
    return SetManifest::read(path);
}

TEST(SetManifest, StartsAsAnUnorderedVersionOneSet) {
    SetManifest manifest("Show", {});
    EXPECT_EQ(manifest.format, "vorlane-set");
    EXPECT_EQ(manifest.version, 1);
    EXPECT_EQ(manifest.ordered, std::nullopt);
}

TEST(SetManifest, WritesPrettyJSONWithSortedKeys) {
    SetManifest manifest = sample();
    manifest.ordered = true;
    EXPECT_EQ(manifest.data(), R"({
  "format": "vorlane-set",
  "name": "Show",
  "ordered": true,
  "parts": [
    {
      "dir": "Show_left",
      "duration": 12.5,
      "file": "Show_left.mp4",
      "h": 1080,
      "w": 1920
    },
    {
      "dir": "Show_right",
      "duration": 12.48,
      "file": "Show_right.mp4",
      "h": 2160,
      "w": 3840
    }
  ],
  "version": 1
})");
}

TEST(SetManifest, LeavesOutOrderedWhenAbsent) { EXPECT_FALSE(sampleJSON().contains("ordered")); }

TEST(SetManifest, WritesNothingForTextThatIsNotUTF8OrANumberJSONCannotHold) {
    SetManifest badName = sample();
    badName.name = "Caf\xE9";
    EXPECT_EQ(badName.data(), "");
    SetManifest badFile = sample();
    badFile.parts[1].file = "\xC3";
    EXPECT_EQ(badFile.data(), "");
    for (double duration : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        SetManifest badDuration = sample();
        badDuration.parts[0].duration = duration;
        EXPECT_EQ(badDuration.data(), "") << duration;
    }
}

TEST(SetManifest, ReadsBackWhatItWrote) {
    TempFolder folder;
    for (std::optional<bool> ordered : {std::optional<bool>(), std::optional<bool>(true), std::optional<bool>(false)}) {
        SetManifest manifest = sample();
        manifest.ordered = ordered;
        manifest.name = "Fu\xC3\x9F \xC2\xB7 \"quoted\"";
        manifest.parts.push_back({"third", "c.mov", INT64_MAX, 0, 1e300});
        EXPECT_EQ(readText(folder, manifest.data()), manifest);
    }
}

TEST(SetManifest, ReadsMissingOrNullOrderedAsAbsent) {
    TempFolder folder;
    json value = sampleJSON();
    EXPECT_EQ(readText(folder, value.dump())->ordered, std::nullopt);
    value["ordered"] = nullptr;
    EXPECT_EQ(readText(folder, value.dump())->ordered, std::nullopt);
}

TEST(SetManifest, IgnoresUnknownKeysAtAnyDepth) {
    TempFolder folder;
    json value = sampleJSON();
    value["comment"] = "made by hand";
    value["parts"][0]["fps"] = 25;
    // Nested far deeper than any manifest field.
    value["extra"] = json::parse(std::string(1000, '[') + std::string(1000, ']'));
    EXPECT_EQ(readText(folder, value.dump()), sample());
}

TEST(SetManifest, AcceptsIntegersForTheDuration) {
    TempFolder folder;
    json value = sampleJSON();
    value["parts"][0]["duration"] = 12;
    EXPECT_EQ(readText(folder, value.dump())->parts[0].duration, 12.0);
}

TEST(SetManifest, RefusesFieldsOfTheWrongKindOrValue) {
    using Spoil = std::function<void(json&)>;
    const std::vector<std::pair<std::string, Spoil>> cases = {
        {"duration as a string", [](json& v) { v["parts"][0]["duration"] = "12.5"; }},
        {"duration missing", [](json& v) { v["parts"][1].erase("duration"); }},
        {"w as a float", [](json& v) { v["parts"][0]["w"] = 1.5; }},
        {"w as a whole float", [](json& v) { v["parts"][0]["w"] = 1920.0; }},
        {"w as a string", [](json& v) { v["parts"][0]["w"] = "1920"; }},
        {"w past int64", [](json& v) { v["parts"][0]["w"] = uint64_t(INT64_MAX) + 1; }},
        {"h missing", [](json& v) { v["parts"][0].erase("h"); }},
        {"h null", [](json& v) { v["parts"][0]["h"] = nullptr; }},
        {"dir as a number", [](json& v) { v["parts"][0]["dir"] = 3; }},
        {"file missing", [](json& v) { v["parts"][1].erase("file"); }},
        {"part not an object",
         [](json& v) {
             v["parts"][1] = json::array({"Show_right", "Show_right.mp4"});
         }},
        {"parts an object",
         [](json& v) {
             v["parts"] = json::object({{"0", v["parts"][0]}, {"1", v["parts"][1]}});
         }},
        {"parts missing", [](json& v) { v.erase("parts"); }},
        {"one part", [](json& v) { v["parts"].erase(1); }},
        {"no parts", [](json& v) { v["parts"] = json::array(); }},
        {"name missing", [](json& v) { v.erase("name"); }},
        {"name as an array", [](json& v) { v["name"] = json::array({"Show"}); }},
        {"format missing", [](json& v) { v.erase("format"); }},
        {"other format", [](json& v) { v["format"] = "vorlane-previs"; }},
        {"version 2", [](json& v) { v["version"] = 2; }},
        {"version 0", [](json& v) { v["version"] = 0; }},
        {"version as a string", [](json& v) { v["version"] = "1"; }},
        {"version as a float", [](json& v) { v["version"] = 1.0; }},
        {"version missing", [](json& v) { v.erase("version"); }},
        {"ordered as a number", [](json& v) { v["ordered"] = 1; }},
        {"ordered as a string", [](json& v) { v["ordered"] = "true"; }},
        {"top level an array", [](json& v) { v = json::array({v}); }},
    };
    TempFolder folder;
    ASSERT_TRUE(readText(folder, sampleJSON().dump()));
    for (const auto& [what, spoil] : cases) {
        json value = sampleJSON();
        spoil(value);
        EXPECT_EQ(readText(folder, value.dump()), std::nullopt) << what;
    }
}

TEST(SetManifest, RefusesTextThatIsNotAManifest) {
    const std::string valid = sample().data();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"null", "null"},
        {"a string", "\"vorlane-set\""},
        {"w past every integer", std::string(valid).replace(valid.find("1920"), 4, "1e400")},
        {"w below int64", std::string(valid).replace(valid.find("1920"), 4, "-9223372036854775809")},
        {"name in Latin-1", std::string(valid).replace(valid.find("Show"), 4, "Caf\xE9")},
        {"name with a lone continuation byte", std::string(valid).replace(valid.find("Show"), 4, "\x80")},
        {"two documents", valid + valid},
        {"trailing garbage", valid + "x"},
        {"deep nesting", std::string(1'000'000, '[')},
        {"deep nesting in a field",
         std::string(valid).replace(valid.find("\"Show\""), 6, std::string(100'000, '[') + std::string(100'000, ']'))},
    };
    TempFolder folder;
    for (const auto& [what, text] : cases)
        EXPECT_EQ(readText(folder, text), std::nullopt) << what;
}

TEST(SetManifest, ReadsNothingFromAnyTruncation) {
    TempFolder folder;
    const std::string valid = sample().data();
    for (size_t length = 0; length < valid.size(); ++length)
        EXPECT_EQ(readText(folder, valid.substr(0, length)), std::nullopt) << length;
    EXPECT_EQ(readText(folder, valid), sample());
}

TEST(SetManifest, ReadsUpToFourMebibytes) {
    TempFolder folder;
    std::string text = sample().data();
    text.resize(4 << 20, ' ');
    EXPECT_EQ(readText(folder, text), sample());
    text += ' ';
    EXPECT_EQ(readText(folder, text), std::nullopt);
}

TEST(SetManifest, ReadsNothingFromAMissingFileOrAFolder) {
    TempFolder folder;
    EXPECT_EQ(SetManifest::read(folder / "missing.vorlane-set.json"), std::nullopt);
    EXPECT_EQ(SetManifest::read(folder.path()), std::nullopt);
}

} // namespace
