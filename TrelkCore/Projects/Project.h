#pragma once
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The browser's projects as it last posted them. Every fromJSON reads hostile input: none for a
// value of the wrong shape, and none for an id or name holding a control character, never an
// exception.

// One item of a wall's list.
struct ListItem {
    std::string id;
    std::string name;
    std::optional<std::string> lib; // the library asset it plays; none for other items

    static std::optional<ListItem> fromJSON(const nlohmann::json& value);
    nlohmann::json json() const;
    bool operator==(const ListItem&) const = default;
};

// The items one wall plays.
struct WallList {
    std::string wall;
    double at = 0; // milliseconds since 1970 of the last change
    std::vector<ListItem> items;

    static std::optional<WallList> fromJSON(const nlohmann::json& value);
    nlohmann::json json() const;
    bool operator==(const WallList&) const = default;
};

struct WallInfo {
    std::string id;
    std::string name;
    int64_t w = 0;
    int64_t h = 0;
    std::string fps; // the rate or rates the wall asks for, as the browser writes them

    static std::optional<WallInfo> fromJSON(const nlohmann::json& value);
    nlohmann::json json() const;
    bool operator==(const WallInfo&) const = default;
};

struct Project {
    std::string id;
    std::string name = "Untitled project";
    double seen = 0; // milliseconds since 1970 of the last post
    std::vector<WallInfo> walls;
    std::optional<WallList> list;  // of one of its walls
    std::vector<std::string> ties; // assets kept with the project

    // The library assets the project uses or keeps: its ties and the assets of its list.
    std::set<std::string> files() const;

    static std::optional<Project> fromJSON(const nlohmann::json& value);
    nlohmann::json json() const;
    bool operator==(const Project&) const = default;
};
