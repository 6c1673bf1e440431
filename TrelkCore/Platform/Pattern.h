#pragma once
#include <unicode/uversion.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

// A regular expression in ICU's syntax over UTF-8 text, built once and shared by any thread.
class Pattern {
public:
    enum class Case { sensitive, insensitive };

    // What one match found: the whole match and each group, none for a group that took no part.
    struct Match {
        std::vector<std::optional<std::string>> groups; // [0] is the whole match
    };

    // Throws std::runtime_error naming the ICU error when the expression does not build.
    Pattern(std::string_view expression, Case letterCase = Case::sensitive);
    ~Pattern();
    Pattern(Pattern&&) noexcept;

    std::optional<Match> firstMatch(std::string_view text) const;
    bool foundIn(std::string_view text) const { return firstMatch(text).has_value(); }
    // Every match replaced; "$1" in the replacement stands for the first group.
    std::string replacingAll(std::string_view text, std::string_view replacement) const;

private:
    std::unique_ptr<icu::RegexPattern> compiled;
};
