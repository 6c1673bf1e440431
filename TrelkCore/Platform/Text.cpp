#include "TrelkCore/Platform/Text.h"

#include <charconv>

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

} // namespace Text
