#pragma once
#include "TrelkCore/Version.h"

#include <optional>
#include <string>
#include <string_view>

// What the download site announces as the newest release.
struct UpdateFeed {
    std::string version; // as announced: it may not be a version number
    std::string url;     // where the user downloads it: always https with a host
    std::optional<std::string> notes;

    // None when the body is not a JSON object with a string "version" and an https "url".
    static std::optional<UpdateFeed> decode(std::string_view body);

    // The announced version when it is greater than the given one.
    std::optional<Version> newer(const Version& than) const;
};
