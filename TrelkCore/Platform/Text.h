#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Text {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool validUTF8(std::string_view bytes);

// Whether the text holds a control character: C0, DEL or C1 (U+0080 to U+009F).
bool hasControl(std::string_view text);

// The text for a terminal: control characters (C0, DEL, C1) and bytes that are not UTF-8 as
// \xNN, so that a file name can neither move the cursor nor change the colours.
std::string terminalSafe(std::string_view text);

// Whether the UTF-8 text holds a character that makes it show as other text: format characters
// (bidirectional overrides and isolates, zero-width ones; a joiner between two emoji excepted),
// line and paragraph separators, private-use and unassigned code points.
bool hasMisleading(std::string_view text);

// A decimal integer with an optional leading "+" or "-" and nothing else; none on overflow.
std::optional<int64_t> parseInteger(std::string_view text);

// Whether the text is one or more ASCII digits and nothing else.
bool allDigits(std::string_view text);

// Digits alone as a decimal integer, as HTTP writes lengths; none for anything else, a sign
// included, and on overflow.
std::optional<int64_t> parseDigits(std::string_view text);

// A decimal number, sign and exponent allowed, from the whole text and nothing else; none for
// text around it, for infinities and NaN.
std::optional<double> parseDecimal(std::string_view text);

// The pieces between separators, leaving out empty ones; after maxSplits pieces the rest is one
// last piece, separators and all.
std::vector<std::string_view> split(std::string_view text, char separator, size_t maxSplits = SIZE_MAX);

// The pieces with the separator between each two.
std::string joined(const std::vector<std::string>& pieces, std::string_view separator);

// The text with the given characters cut from both ends.
std::string_view trim(std::string_view text, std::string_view characters = " \t");

// The text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string repairedUTF8(std::string_view bytes);

// ASCII lower case; other bytes stay as they are.
std::string lowercased(std::string_view text);
// Whether the text holds the part, in the lower case of the default locale.
bool containsIgnoringCase(std::string_view text, std::string_view part);

// %XX escapes decoded; none when an escape is broken or the result is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text);

// Unicode canonical composition (NFC); text that is not UTF-8 comes back as it is.
std::string composed(std::string_view text);

// The order of names in the file browser: case-insensitive, runs of digits by their value, so
// "clip 9" comes before "Clip 10". Negative, zero or positive like strcmp.
int compareNames(std::string_view a, std::string_view b);
// Bytes whose plain order is the order of compareNames: for sorting many names at once.
std::string nameSortKey(std::string_view name);

// A size as the file browser shows it, in decimal units with at most one decimal that is not
// zero: "0 bytes", "1 byte", "999 bytes", "1 KB", "1.2 MB", "3.4 GB", "80 GB".
std::string byteCount(int64_t bytes);

// ISO 8601 in UTC without fractions of a second: 2026-12-09T10:00:00Z.
std::string iso8601(std::chrono::system_clock::time_point time);

// The HTTP date (RFC 9110 IMF-fixdate), in English whatever the locale: Thu, 10 Dec 2026 10:00:00 GMT.
std::string httpDate(std::chrono::system_clock::time_point time);

// A date with its time as the default locale writes them in the default time zone, the date
// abbreviated and the time short: "Dec 9, 2026, 10:00 AM".
std::string dateTime(std::chrono::system_clock::time_point time);

// The abbreviated month and the day as the default locale writes them: "Mar 4".
std::string monthDay(std::chrono::system_clock::time_point time);

// An interval in seconds as the default locale says it, in its largest whole unit: negative is
// past ("5 minutes ago"), positive future ("in 2 days").
std::string relativeTime(double seconds);

} // namespace Text
