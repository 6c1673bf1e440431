#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Text {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool validUTF8(std::string_view bytes);

// A decimal integer with an optional leading "+" or "-" and nothing else; none on overflow.
std::optional<int64_t> parseInteger(std::string_view text);

// The text with the given characters cut from both ends.
std::string_view trim(std::string_view text, std::string_view characters = " \t");

// ASCII lower case; other bytes stay as they are.
std::string lowercased(std::string_view text);

// %XX escapes decoded; none when an escape is broken or the result is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text);

} // namespace Text
