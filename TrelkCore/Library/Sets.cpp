#include "TrelkCore/Library/Sets.h"

#include "TrelkCore/JSONField.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Pattern.h"
#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <span>

using json = nlohmann::json;

namespace {

constexpr int64_t manifestLimit = 4 << 20;
constexpr int rankCount = 3; // left, centre, right; anything else ranks after them
constexpr std::string_view asciiWhiteSpace = " \t\r\n\v\f";

struct Patterns {
    Pattern word;
    Pattern separators;
    Pattern trailingSeparators;
    std::array<Pattern, rankCount> ranks;
};

Pattern rank(std::string_view alternatives) {
    return Pattern("(^|[^a-z])(" + std::string(alternatives) + ")([^a-z]|$)");
}

// The expressions are fixed, so a failure to build one is a broken platform, not bad input.
Patterns buildPatterns() {
    try {
        return Patterns{
            Pattern("(^|[^A-Za-z])(left|centre|center|middle|right)(?=[^A-Za-z]|$)", Pattern::Case::insensitive),
            Pattern("[\\s_\\-.]+"),
            Pattern("[\\s_\\-.(]+$"),
            {rank("left|l"), rank("cent(er|re)|middle|mid|c"), rank("right|r")},
        };
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fatal error in TrelkCore/Sets: %s\n", error.what());
        std::abort();
    }
}

const Patterns& patterns() {
    static const Patterns shared = buildPatterns();
    return shared;
}

std::string stem(std::string_view fileName) { return std::filesystem::path(fileName).stem().string(); }

// The position word as written: the second group of the first word match in the stem.
std::optional<std::string> writtenPosition(std::string_view fileName) {
    std::optional<Pattern::Match> match = patterns().word.firstMatch(stem(fileName));
    if (!match) return std::nullopt;
    return match->groups[2];
}

// Center and centre name the same place.
std::optional<std::string> position(std::string_view fileName) {
    std::optional<std::string> word = writtenPosition(fileName);
    if (!word) return std::nullopt;
    std::string lower = Text::lowercased(*word);
    return lower == "center" ? "centre" : lower;
}

// True when every name has a position and no two share one.
bool distinctPositions(std::span<const std::optional<std::string>> positions) {
    std::set<std::string> seen;
    for (const std::optional<std::string>& place : positions)
        if (!place || !seen.insert(*place).second) return false;
    return true;
}

std::vector<std::optional<std::string>> positions(const std::vector<std::string>& names) {
    std::vector<std::optional<std::string>> result;
    for (const std::string& name : names)
        result.push_back(position(name));
    return result;
}

int rankOf(std::string_view fileName) {
    const std::string lower = Text::lowercased(stem(fileName));
    for (int rank = 0; rank < rankCount; ++rank)
        if (patterns().ranks[size_t(rank)].foundIn(lower)) return rank;
    return rankCount;
}

std::string capitalised(std::string word) {
    word = Text::lowercased(word);
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = char(word[0] - 'a' + 'A');
    return word;
}

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Longest common prefix that never ends inside a UTF-8 sequence.
std::string_view commonPrefix(std::string_view a, std::string_view b) {
    size_t length = std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin();
    auto splits = [&](std::string_view text) { return length < text.size() && isContinuationByte(text[length]); };
    while (length > 0 && (splits(a) || splits(b)))
        --length;
    return a.substr(0, length);
}

size_t characterCount(std::string_view text) {
    return size_t(std::count_if(text.begin(), text.end(), [](char byte) { return !isContinuationByte(byte); }));
}

// The name shared by parts that are not named as positions of one key: Intro_A and Intro_B give Intro.
std::optional<std::string> sharedStem(const std::vector<std::string>& names) {
    const std::string first = stem(names.front());
    std::string_view prefix = first;
    for (const std::string& name : names)
        prefix = commonPrefix(prefix, stem(name));
    std::string trimmed = patterns().trailingSeparators.replacingAll(prefix, "");
    if (characterCount(trimmed) > 2) return trimmed;
    return std::nullopt;
}

std::optional<std::string> sharedKey(const std::vector<std::string>& names) {
    std::optional<std::string> first = SetName::key(names.front());
    if (!first) return std::nullopt;
    for (const std::string& name : names)
        if (SetName::key(name) != first) return std::nullopt;
    return first;
}

using JSONField::member;

std::optional<std::string> stringAt(const json& object, const char* key) {
    return JSONField::string(member(object, key));
}

// JSON integers only: a float, even a whole one, is not a pixel size or a version.
std::optional<int64_t> integerAt(const json& object, const char* key) {
    return JSONField::integer(member(object, key));
}

std::optional<double> numberAt(const json& object, const char* key) { return JSONField::number(member(object, key)); }

std::optional<std::vector<SetPart>> decodeParts(const json& object) {
    const json* value = member(object, "parts");
    if (!value || !value->is_array()) return std::nullopt;
    std::vector<SetPart> parts;
    for (const json& entry : *value) {
        std::optional<SetPart> part = SetPart::decoded(entry);
        if (!part) return std::nullopt;
        parts.push_back(std::move(*part));
    }
    return parts;
}

// Absent and null both mean not set; anything but a boolean fails the manifest.
bool decodeOrdered(const json& object, std::optional<bool>& ordered) {
    const json* value = member(object, "ordered");
    if (!value || value->is_null()) return true;
    if (!value->is_boolean()) return false;
    ordered = value->get<bool>();
    return true;
}

// A manifest is three levels deep; anything nested further is dropped unbuilt, so a hostile
// file of millions of brackets costs no tree. Required keys dropped this way fail the decode.
bool shallow(int depth, json::parse_event_t, json&) {
    constexpr int deepestKept = 3;
    return depth <= deepestKept;
}

std::optional<SetManifest> decode(const std::string& text) {
    json value = json::parse(text, shallow, false);
    if (!value.is_object()) return std::nullopt;
    std::optional<std::string> format = stringAt(value, "format"), name = stringAt(value, "name");
    std::optional<int64_t> version = integerAt(value, "version");
    std::optional<std::vector<SetPart>> parts = decodeParts(value);
    if (!format || !name || !version || !parts) return std::nullopt;
    SetManifest manifest(std::move(*name), std::move(*parts));
    manifest.format = std::move(*format);
    manifest.version = *version;
    if (!decodeOrdered(value, manifest.ordered)) return std::nullopt;
    return manifest;
}

} // namespace

std::optional<SetPart> SetPart::decoded(const json& value) {
    if (!value.is_object()) return std::nullopt;
    std::optional<std::string> dir = stringAt(value, "dir"), file = stringAt(value, "file");
    std::optional<int64_t> w = integerAt(value, "w"), h = integerAt(value, "h");
    std::optional<double> duration = numberAt(value, "duration");
    if (!dir || !file || !w || !h || !duration) return std::nullopt;
    return SetPart{*dir, *file, *w, *h, *duration};
}

json SetPart::encoded() const {
    json value = json::object();
    value["dir"] = dir;
    value["file"] = file;
    value["w"] = w;
    value["h"] = h;
    value["duration"] = duration;
    return value;
}

SetManifest::SetManifest(std::string name, std::vector<SetPart> parts)
    : name(std::move(name)), parts(std::move(parts)) {}

std::optional<SetManifest> SetManifest::read(const std::filesystem::path& path) {
    std::optional<std::string> text = Files::read(path, manifestLimit);
    if (!text) return std::nullopt;
    std::optional<SetManifest> manifest = decode(*text);
    if (!manifest || manifest->format != "vorlane-set" || manifest->version != 1 || manifest->parts.size() < 2)
        return std::nullopt;
    return manifest;
}

std::string SetManifest::data() const {
    json value = json::object();
    value["format"] = format;
    value["version"] = version;
    value["name"] = name;
    value["parts"] = json::array();
    for (const SetPart& part : parts) {
        // JSON has no NaN or infinity: the writer would put null, which no reader accepts.
        if (!std::isfinite(part.duration)) return {};
        value["parts"].push_back(part.encoded());
    }
    if (ordered) value["ordered"] = *ordered;
    try {
        return value.dump(2); // object keys are kept sorted by nlohmann::json
    } catch (const json::type_error&) {
        return {}; // a string that is not UTF-8
    }
}

namespace SetName {

std::optional<std::string> key(std::string_view fileName) {
    const std::string stemmed = stem(fileName);
    const Patterns& shared = patterns();
    if (!shared.word.foundIn(stemmed)) return std::nullopt;
    std::string rest = shared.word.replacingAll(stemmed, "$1");
    rest = shared.separators.replacingAll(rest, " ");
    std::string trimmed(Text::trim(rest, asciiWhiteSpace));
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

std::map<std::string, std::vector<size_t>> groups(const std::vector<std::string>& names) {
    std::map<std::string, std::vector<size_t>> byKey;
    for (size_t index = 0; index < names.size(); ++index)
        if (std::optional<std::string> found = key(names[index])) byKey[*found].push_back(index);
    const std::vector<std::optional<std::string>> places = positions(names);
    std::erase_if(byKey, [&](const auto& entry) {
        const std::vector<size_t>& members = entry.second;
        std::vector<std::optional<std::string>> memberPlaces;
        for (size_t index : members)
            memberPlaces.push_back(places[index]);
        return members.size() < 2 || !distinctPositions(memberPlaces);
    });
    return byKey;
}

std::vector<size_t> order(const std::vector<std::string>& names) {
    std::vector<int> ranks;
    for (const std::string& name : names)
        ranks.push_back(rankOf(name));
    std::vector<size_t> indices(names.size());
    for (size_t index = 0; index < indices.size(); ++index)
        indices[index] = index;
    // Stable, so names that compare equal keep their input order.
    std::stable_sort(indices.begin(), indices.end(), [&](size_t a, size_t b) {
        if (ranks[a] != ranks[b]) return ranks[a] < ranks[b];
        return Text::compareNames(names[a], names[b]) < 0;
    });
    return indices;
}

std::vector<std::string> labels(const std::vector<std::string>& names) {
    std::vector<std::string> result;
    if (names.size() > 1 && distinctPositions(positions(names))) {
        for (const std::string& name : names)
            result.push_back(capitalised(writtenPosition(name).value_or("")));
    } else {
        for (const std::string& name : names)
            result.push_back(stem(name));
    }
    return result;
}

std::string common(const std::vector<std::string>& names) {
    if (names.empty()) return "set";
    if (std::optional<std::string> shared = sharedKey(names)) return *shared;
    if (std::optional<std::string> shared = sharedStem(names)) return *shared;
    return stem(names.front()) + " set";
}

std::string fileName(std::string_view setName) {
    std::string name(setName);
    std::replace(name.begin(), name.end(), '/', '-');
    std::replace(name.begin(), name.end(), ':', '-');
    // A name starting with a dot would make a hidden file the scan never sees.
    if (name.empty() || name.front() == '.') name.insert(0, "set");
    return name + ".vorlane-set.json";
}

} // namespace SetName
