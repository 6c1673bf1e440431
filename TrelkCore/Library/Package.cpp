#include "TrelkCore/Library/Package.h"

#include "TrelkCore/Library/Library.h"

#include "TrelkCore/FrameRate.h"
#include "TrelkCore/JSONField.h"
#include "TrelkCore/Platform/Files.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Manifests are a few KiB; anything far larger is not one of ours.
constexpr int64_t manifestLimit = 4 << 20;
constexpr size_t alphaSearch = 0x40000;

using JSONField::integer;
using JSONField::member;
using JSONField::string;

// A file named by the manifest: a safe name of a regular file beside it.
std::optional<std::string> madeFile(const json* value, const fs::path& folder) {
    std::optional<std::string> name = string(value);
    if (!name || !Library::safeName(*name) || !Files::facts(folder / *name)) return std::nullopt;
    return name;
}

std::optional<std::vector<MediaKinds::Strip>> strips(const json* value, const fs::path& folder) {
    std::vector<MediaKinds::Strip> result;
    if (!value || !value->is_array()) return result;
    for (const json& strip : *value)
        if (!strip.is_object()) return result; // not an array of objects: no strips
    for (const json& strip : *value) {
        std::optional<std::string> file = madeFile(member(strip, "file"), folder);
        std::optional<int64_t> x = integer(member(strip, "x")), w = integer(member(strip, "w"));
        if (!file || !x || !w) return std::nullopt;
        result.push_back({*file, *x, *w});
    }
    return result;
}

std::optional<std::string> nameIn(const json* value) {
    std::optional<std::string> name = string(value);
    return name && !name->empty() ? name : std::nullopt;
}

std::optional<double> rateIn(const json* value) { return value ? Library::rate(*value) : std::nullopt; }

} // namespace

namespace Library {

std::optional<double> rate(const json& value) {
    if (value.is_number_float()) {
        double rate = value.get<double>();
        return rate > 0 && std::isfinite(rate) ? std::optional(rate) : std::nullopt;
    }
    if (value.is_number_integer()) {
        std::optional<int64_t> whole = integer(&value);
        return whole && *whole >= 1 ? std::optional(double(*whole)) : std::nullopt;
    }
    if (value.is_string()) return FrameRate::parse(value.get_ref<const std::string&>()).transform(&FrameRate::fps);
    return std::nullopt;
}

std::optional<Package> package(const fs::path& manifest) {
    std::optional<std::string> text = Files::read(manifest, manifestLimit);
    if (!text) return std::nullopt;
    const json top = json::parse(*text, nullptr, false);
    if (!top.is_object() || string(member(top, "format")) != "vorlane-previs" || integer(member(top, "version")) != 1)
        return std::nullopt;
    const json* master = member(top, "master");
    const json* wide = member(top, "wide");
    if (!master || !master->is_object() || !wide || !wide->is_object()) return std::nullopt;
    std::optional<int64_t> w = integer(member(*master, "w")), h = integer(member(*master, "h"));
    if (!w || !h || *w < 1 || *h < 1) return std::nullopt;
    const fs::path folder = manifest.parent_path();
    std::optional<std::string> wideFile = madeFile(member(*wide, "file"), folder);
    if (!wideFile) return std::nullopt;
    std::optional<std::vector<MediaKinds::Strip>> found = strips(member(top, "strips"), folder);
    if (!found) return std::nullopt;
    // Name and frame rate are top-level keys; our writer keeps them with the master.
    std::optional<std::string> name =
        nameIn(member(top, "name")).or_else([&] { return nameIn(member(*master, "name")); });
    std::optional<double> fps = rateIn(member(top, "fps")).or_else([&] { return rateIn(member(*master, "fps")); });
    return Package{name.value_or(*wideFile), *wideFile, {*w, *h}, std::move(*found), fps};
}

bool webmAlpha(const fs::path& path) {
    std::optional<std::string> start = Files::readStart(path, alphaSearch);
    if (!start || start->size() < 4) return false;
    // The AlphaMode element with a one-byte size; its value is the byte after it.
    size_t mark = start->find("\x53\xC0\x81");
    if (mark == std::string::npos || mark + 3 >= start->size()) return false;
    return (*start)[mark + 3] == 1;
}

} // namespace Library
