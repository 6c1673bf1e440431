#include "TrelkCore/Making/Decode.h"

#include "TrelkCore/Platform/Text.h"

namespace Decode {

std::string failure(std::string_view codec) {
    const std::string_view trimmed = Text::trim(codec, " \t\n\r\f\v");
    if (Text::lowercased(trimmed) == "nclc") return "macOS can't read NotchLC · export ProRes or H.264";
    if (!trimmed.empty())
        return "macOS can't read this file's codec (" + std::string(trimmed) + ") · export ProRes or H.264";
    return "macOS can't read this file · export ProRes or H.264";
}

std::string unreadable(const std::exception& failure) {
    if (dynamic_cast<const TrelkError*>(&failure)) return failure.what();
    return std::string("couldn't read the master: ") + failure.what();
}

} // namespace Decode
