#pragma once
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/StoreFile.h"

#include <compare>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the probes of plain videos found, kept from one start to the next so that a start probes
// only the files that changed. A file is known by its path, its size and its modification time;
// a failed probe is kept too, and tried again only once its file changes.
class ProbeCache {
public:
    explicit ProbeCache(std::filesystem::path file);

    // The facts found of the asset's file as it is now, none inside when its probe failed;
    // null when it was never probed.
    const std::optional<MasterInfo>* find(const Asset& asset) const;
    void add(const Asset& asset, std::optional<MasterInfo> facts);
    // Keeps what is known of these assets, and only of these: files gone from the library are
    // forgotten. Writes only when that differs from what was kept last.
    void save(const std::vector<Asset>& assets);

private:
    struct Key {
        std::string path;
        int64_t bytes;
        double modified; // seconds since 1970

        static Key of(const Asset& asset);
        auto operator<=>(const Key&) const = default;
    };
    void load();

    StoreFile store;
    std::map<Key, std::optional<MasterInfo>> known;
    bool added = false; // since the last save
};
