// Downloads still under way: the watch leaves them be, and an upload may not take their names.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <array>

bool Jobs::partial(std::string_view name) {
    static constexpr std::array<std::string_view, 4> suffixes{".crdownload", ".download", ".part", ".partial"};
    const std::string lower = Text::lowercased(name);
    return std::ranges::any_of(suffixes, [&](std::string_view suffix) { return lower.ends_with(suffix); });
}
