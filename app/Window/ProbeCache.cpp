#include "app/Window/ProbeCache.h"

#include "TrelkCore/JSONField.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>

using nlohmann::json;

namespace {

constexpr int64_t storeLimit = 256 << 20;

} // namespace

ProbeCache::Key ProbeCache::Key::of(const Asset& asset) {
    return {(asset.folder / asset.file).string(), asset.bytes,
            std::chrono::duration<double>(asset.modified.time_since_epoch()).count()};
}

ProbeCache::ProbeCache(std::filesystem::path file) : store(std::move(file), storeLimit, 0600) {
    load();
}

// Every entry or none: a file that does not read as a whole is set aside, not half taken.
void ProbeCache::load() {
    const std::optional<std::string> text = store.read();
    if (!text) return;
    const json entries = json::parse(*text, nullptr, false);
    if (!entries.is_array()) return store.unreadable();
    for (const json& entry : entries) {
        const std::optional<std::string> path = JSONField::string(JSONField::member(entry, "path"));
        const std::optional<int64_t> bytes = JSONField::integer(JSONField::member(entry, "bytes"));
        const std::optional<double> modified = JSONField::number(JSONField::member(entry, "modified"));
        const json* facts = JSONField::member(entry, "facts");
        std::optional<MasterInfo> info = facts ? MasterInfo::fromJSON(*facts) : std::nullopt;
        if (!path || !bytes || !modified || !std::isfinite(*modified) || !facts || (!facts->is_null() && !info)) {
            known.clear();
            return store.unreadable();
        }
        known[{*path, *bytes, *modified}] = std::move(info);
    }
}

const std::optional<MasterInfo>* ProbeCache::find(const Asset& asset) const {
    const auto found = known.find(Key::of(asset));
    return found == known.end() ? nullptr : &found->second;
}

void ProbeCache::add(const Asset& asset, std::optional<MasterInfo> facts) {
    known[Key::of(asset)] = std::move(facts);
    added = true;
}

void ProbeCache::save(const std::vector<Asset>& assets) {
    std::map<Key, std::optional<MasterInfo>> kept;
    for (const Asset& asset : assets)
        if (const auto found = known.find(Key::of(asset)); found != known.end()) kept.insert(*found);
    if (!added && kept.size() == known.size()) return;
    known = std::move(kept);
    added = false;
    json entries = json::array();
    for (const auto& [key, facts] : known)
        entries.push_back({{"path", key.path},
                           {"bytes", key.bytes},
                           {"modified", key.modified},
                           {"facts", facts ? facts->json() : json(nullptr)}});
    store.save(entries.dump(-1, ' ', false, json::error_handler_t::replace));
}
