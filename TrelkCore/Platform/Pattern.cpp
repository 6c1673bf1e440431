#include "TrelkCore/Platform/Pattern.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <stdexcept>

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

[[noreturn]] void fail(const char* what, UErrorCode status) {
    throw std::runtime_error(std::string(what) + ": " + u_errorName(status));
}

} // namespace

Pattern::Pattern(std::string_view expression, Case letterCase) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    uint32_t flags = letterCase == Case::insensitive ? UREGEX_CASE_INSENSITIVE : 0;
    compiled.reset(icu::RegexPattern::compile(unicode(expression), flags, where, status));
    if (U_FAILURE(status)) fail("regular expression", status);
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;

std::optional<Pattern::Match> Pattern::firstMatch(std::string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
    if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    Match match;
    for (int32_t group = 0; group <= matcher->groupCount(); ++group) {
        int32_t start = matcher->start(group, status);
        if (U_FAILURE(status) || start < 0) {
            match.groups.emplace_back();
            status = U_ZERO_ERROR;
            continue;
        }
        match.groups.emplace_back(utf8(matcher->group(group, status)));
    }
    return match;
}

std::string Pattern::replacingAll(std::string_view text, std::string_view replacement) const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
    if (U_FAILURE(status)) fail("regular expression matcher", status);
    icu::UnicodeString result = matcher->replaceAll(unicode(replacement), status);
    if (U_FAILURE(status)) fail("regular expression replacement", status);
    return utf8(result);
}
