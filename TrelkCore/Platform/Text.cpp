#include "TrelkCore/Platform/Text.h"

#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/reldatefmt.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace Text {

namespace {

// Length of the UTF-8 sequence starting at bytes[i], or 0 when it is malformed.
size_t sequenceLength(std::string_view bytes, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool validUTF8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool hasControl(std::string_view text) {
    for (size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == 0x7f) return true;
        // U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
        if (byte == 0xc2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) <= 0x9f) return true;
    }
    return false;
}

std::string terminalSafe(std::string_view text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = sequenceLength(text, at);
        const bool c1 = length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
        if (length == 0 || byte < 0x20 || byte == 0x7f || c1) {
            const size_t count = c1 ? 2 : 1;
            for (size_t i = 0; i < count; ++i) {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at + i]));
                shown += escape;
            }
            at += count;
            continue;
        }
        shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}

bool hasMisleading(std::string_view text) {
    const icu::UnicodeString characters = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    UChar32 before = U_SENTINEL;
    for (int32_t at = 0; at < characters.length(); at = characters.moveIndex32(at, 1)) {
        const UChar32 character = characters.char32At(at);
        const int8_t type = u_charType(character);
        if (character == 0x200d) { // the joiner of emoji sequences such as a family
            const int32_t next = characters.moveIndex32(at, 1);
            if (next < characters.length() && u_hasBinaryProperty(before, UCHAR_EXTENDED_PICTOGRAPHIC) &&
                u_hasBinaryProperty(characters.char32At(next), UCHAR_EXTENDED_PICTOGRAPHIC)) {
                before = character;
                continue;
            }
        }
        if (type == U_FORMAT_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR ||
            type == U_PRIVATE_USE_CHAR || type == U_UNASSIGNED)
            return true;
        // A variation selector belongs to the emoji before it.
        if (!u_hasBinaryProperty(character, UCHAR_VARIATION_SELECTOR)) before = character;
    }
    return false;
}

std::string repairedUTF8(std::string_view bytes) {
    std::string repaired;
    repaired.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            repaired += "\xEF\xBF\xBD";
            ++i;
        } else {
            repaired.append(bytes.substr(i, length));
            i += length;
        }
    }
    return repaired;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int64_t> parseDigits(std::string_view text) {
    return allDigits(text) ? parseInteger(text) : std::nullopt;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    // Parse the magnitude unsigned so that the most negative value still fits.
    uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr uint64_t limit = uint64_t(INT64_MAX);
    if (negative) {
        if (magnitude > limit + 1) return std::nullopt;
        return magnitude == limit + 1 ? INT64_MIN : -int64_t(magnitude);
    }
    if (magnitude > limit) return std::nullopt;
    return int64_t(magnitude);
}

std::optional<double> parseDecimal(std::string_view text) {
    std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
    if (digits.size() < text.size() && (digits.starts_with('-') || digits.starts_with('+'))) return std::nullopt;
    double value;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string joined(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) text += separator;
        text += pieces[i];
    }
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator, size_t maxSplits) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != separator) continue;
        bool appended = i > start;
        if (appended) pieces.push_back(text.substr(start, i - start));
        start = i + 1;
        if (appended && pieces.size() == maxSplits) break;
    }
    if (start < text.size()) pieces.push_back(text.substr(start));
    return pieces;
}

std::string_view trim(std::string_view text, std::string_view characters) {
    size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return result;
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    icu::UnicodeString whole = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    icu::UnicodeString sought = icu::UnicodeString::fromUTF8(icu::StringPiece(part.data(), int32_t(part.size())));
    return whole.toLower().indexOf(sought.toLower()) >= 0;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        result += char(high * 16 + low);
        i += 2;
    }
    if (!validUTF8(result)) return std::nullopt;
    return result;
}

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
}

// One collator per thread: ICU collators are not to be shared between threads while in use.
const icu::Collator& nameCollator() {
    thread_local const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) throw std::runtime_error(std::string("collator: ") + u_errorName(status));
        made->setStrength(icu::Collator::SECONDARY); // letters and accents count, case does not
        made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        return made;
    }();
    return *collator;
}

} // namespace

std::string composed(std::string_view text) {
    if (!validUTF8(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    icu::UnicodeString normal = nfc->normalize(unicode(text), status);
    if (U_FAILURE(status)) return std::string(text);
    std::string result;
    normal.toUTF8String(result);
    return result;
}

int compareNames(std::string_view a, std::string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult order = nameCollator().compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                                       icu::StringPiece(b.data(), int32_t(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return int(order);
}

std::string nameSortKey(std::string_view name) {
    const icu::UnicodeString text = unicode(name);
    const icu::Collator& collator = nameCollator();
    std::string key(size_t(text.length()) * 4 + 16, '\0');
    auto bytes = [&] { return reinterpret_cast<uint8_t*>(key.data()); };
    int32_t length = collator.getSortKey(text, bytes(), int32_t(key.size()));
    if (length > int32_t(key.size())) {
        key.resize(size_t(length));
        length = collator.getSortKey(text, bytes(), int32_t(key.size()));
    }
    key.resize(length > 0 ? size_t(length - 1) : 0); // without the closing NUL
    return key;
}

std::string byteCount(int64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr std::array<const char*, 6> units{"KB", "MB", "GB", "TB", "PB", "EB"};
    // In tenths of the unit, rounded half up; 999.95 KB is 1 MB, not 1000 KB.
    size_t unit = 0;
    double value = double(bytes) / 1000;
    while (std::round(value * 10) >= 10000 && unit + 1 < units.size()) {
        value /= 1000;
        ++unit;
    }
    const auto tenths = int64_t(std::round(value * 10));
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
    return text + " " + units[unit];
}

namespace {

std::tm utcParts(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return parts;
}

} // namespace

std::string iso8601(std::chrono::system_clock::time_point time) {
    const std::tm parts = utcParts(time);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string httpDate(std::chrono::system_clock::time_point time) {
    static constexpr std::array<const char*, 7> days{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm parts = utcParts(time);
    char text[40];
    // strftime's %a and %b would follow the locale the application set.
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[size_t(parts.tm_wday) % 7],
                  parts.tm_mday, months[size_t(parts.tm_mon) % 12], parts.tm_year + 1900, parts.tm_hour, parts.tm_min,
                  parts.tm_sec);
    return text;
}

namespace {

// The time by the format; none: ISO 8601.
std::string formatted(const icu::DateFormat* format, std::chrono::system_clock::time_point time) {
    if (!format) return iso8601(time);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    icu::UnicodeString text;
    format->format(UDate(milliseconds.count()), text);
    std::string result;
    return text.toUTF8String(result);
}

} // namespace

std::string dateTime(std::chrono::system_clock::time_point time) {
    const std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort));
    return formatted(format.get(), time);
}

std::string monthDay(std::chrono::system_clock::time_point time) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createInstanceForSkeleton("MMMd", status));
    return formatted(U_SUCCESS(status) ? format.get() : nullptr, time);
}

namespace {

struct TimeUnit {
    double seconds;
    URelativeDateTimeUnit unit;
};

// From the largest down; a month counted as 30 days, a year as 365.
constexpr std::array<TimeUnit, 6> timeUnits{{
    {365 * 86400.0, UDAT_REL_UNIT_YEAR},
    {30 * 86400.0, UDAT_REL_UNIT_MONTH},
    {7 * 86400.0, UDAT_REL_UNIT_WEEK},
    {86400.0, UDAT_REL_UNIT_DAY},
    {3600.0, UDAT_REL_UNIT_HOUR},
    {60.0, UDAT_REL_UNIT_MINUTE},
}};

} // namespace

std::string relativeTime(double seconds) {
    if (!std::isfinite(seconds)) seconds = 0;
    TimeUnit chosen{1, UDAT_REL_UNIT_SECOND};
    for (const TimeUnit& unit : timeUnits)
        if (std::abs(seconds) >= unit.seconds) {
            chosen = unit;
            break;
        }
    UErrorCode status = U_ZERO_ERROR;
    const icu::RelativeDateTimeFormatter format(status);
    if (U_FAILURE(status)) return {};
    icu::UnicodeString text;
    format.formatNumeric(std::trunc(seconds / chosen.seconds), chosen.unit, text, status);
    if (U_FAILURE(status)) return {};
    std::string result;
    return text.toUTF8String(result);
}

} // namespace Text
