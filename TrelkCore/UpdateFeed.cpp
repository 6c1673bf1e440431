#include "TrelkCore/UpdateFeed.h"

#include "TrelkCore/JSONField.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>

namespace {

// "https://" and a host. The address is handed to the web browser, so nothing but https is
// opened, and user info ("https://vorlane.app@elsewhere") or blanks that could disguise the
// host are refused.
bool downloadAddress(std::string_view address) {
    constexpr std::string_view scheme = "https://";
    if (address.size() < scheme.size() || Text::lowercased(address.substr(0, scheme.size())) != scheme)
        return false;
    if (std::any_of(address.begin(), address.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        return false;
    std::string_view rest = address.substr(scheme.size());
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) return false;
    std::string_view host = authority.substr(0, authority.rfind(':'));
    return !host.empty();
}

} // namespace

std::optional<UpdateFeed> UpdateFeed::decode(std::string_view body) {
    const nlohmann::json json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    std::optional<std::string> version = JSONField::string(JSONField::member(json, "version"));
    std::optional<std::string> url = JSONField::string(JSONField::member(json, "url"));
    if (!version || !url || !downloadAddress(*url)) return std::nullopt;
    return UpdateFeed{*version, *url, JSONField::string(JSONField::member(json, "notes"))};
}

std::optional<Version> UpdateFeed::newer(const Version& than) const {
    std::optional<Version> announced = Version::parse(version);
    if (!announced || *announced <= than) return std::nullopt;
    return announced;
}
