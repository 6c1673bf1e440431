#include "TrelkCore/Projects/Project.h"

#include "TrelkCore/JSONField.h"
#include "TrelkCore/Platform/Text.h"

using JSONField::member;
using nlohmann::json;

namespace {

// An id, a name or a wall's rate: shown to the user or matched, so never with a control character.
std::optional<std::string> cleanText(const json* value) {
    std::optional<std::string> text = JSONField::string(value);
    if (!text || Text::hasControl(*text)) return std::nullopt;
    return text;
}

// A member that is there and not null: null stands for absent, as the browser may write it.
const json* present(const json& object, const char* key) {
    const json* value = member(object, key);
    return value && !value->is_null() ? value : nullptr;
}

// Every element read, or none at all.
template <class Element, class Reader> std::optional<std::vector<Element>> arrayOf(const json* value, Reader reader) {
    if (!value || !value->is_array()) return std::nullopt;
    std::vector<Element> elements;
    elements.reserve(value->size());
    for (const json& element : *value) {
        std::optional<Element> decoded = reader(element);
        if (!decoded) return std::nullopt;
        elements.push_back(std::move(*decoded));
    }
    return elements;
}

template <class Record> json arrayJSON(const std::vector<Record>& records) {
    json array = json::array();
    for (const Record& record : records)
        array.push_back(record.json());
    return array;
}

// Missing or not an array of strings: no ties. A tie with a control character fails the project.
std::optional<std::vector<std::string>> tiesIn(const json& object) {
    const json* value = member(object, "ties");
    auto strings = arrayOf<std::string>(value, [](const json& tie) { return JSONField::string(&tie); });
    if (!strings) return std::vector<std::string>{};
    for (const std::string& tie : *strings)
        if (Text::hasControl(tie)) return std::nullopt;
    return strings;
}

// Missing or not a string: the default name. A name with a control character fails the project.
std::optional<std::string> projectName(const json& object) {
    const json* value = member(object, "name");
    if (!value || !value->is_string()) return Project{}.name;
    return cleanText(value);
}

} // namespace

std::optional<ListItem> ListItem::fromJSON(const nlohmann::json& value) {
    std::optional<std::string> id = cleanText(member(value, "id"));
    std::optional<std::string> name = cleanText(member(value, "name"));
    if (!id || !name) return std::nullopt;
    ListItem item{*id, *name, std::nullopt};
    if (const nlohmann::json* lib = present(value, "lib")) {
        item.lib = cleanText(lib);
        if (!item.lib) return std::nullopt;
    }
    return item;
}

json ListItem::json() const {
    nlohmann::json object = {{"id", id}, {"name", name}};
    if (lib) object["lib"] = *lib;
    return object;
}

std::optional<WallList> WallList::fromJSON(const nlohmann::json& value) {
    std::optional<std::string> wall = cleanText(member(value, "wall"));
    std::optional<double> at = JSONField::number(member(value, "at"));
    auto items = arrayOf<ListItem>(member(value, "items"), ListItem::fromJSON);
    if (!wall || !at || !items) return std::nullopt;
    return WallList{*wall, *at, std::move(*items)};
}

json WallList::json() const { return {{"wall", wall}, {"at", at}, {"items", arrayJSON(items)}}; }

std::optional<WallInfo> WallInfo::fromJSON(const nlohmann::json& value) {
    std::optional<std::string> id = cleanText(member(value, "id"));
    std::optional<std::string> name = cleanText(member(value, "name"));
    std::optional<int64_t> w = JSONField::integer(member(value, "w"));
    std::optional<int64_t> h = JSONField::integer(member(value, "h"));
    std::optional<std::string> fps = cleanText(member(value, "fps"));
    if (!id || !name || !w || !h || !fps) return std::nullopt;
    return WallInfo{*id, *name, *w, *h, *fps};
}

json WallInfo::json() const { return {{"id", id}, {"name", name}, {"w", w}, {"h", h}, {"fps", fps}}; }

std::set<std::string> Project::files() const {
    std::set<std::string> files(ties.begin(), ties.end());
    if (list)
        for (const ListItem& item : list->items)
            if (item.lib) files.insert(*item.lib);
    return files;
}

std::optional<Project> Project::fromJSON(const nlohmann::json& value) {
    std::optional<std::string> id = cleanText(member(value, "id"));
    std::optional<std::string> name = projectName(value);
    auto walls = arrayOf<WallInfo>(member(value, "walls"), WallInfo::fromJSON);
    std::optional<std::vector<std::string>> ties = tiesIn(value);
    if (!id || !name || !walls || !ties) return std::nullopt;
    Project project{*id,          *name,           JSONField::number(member(value, "seen")).value_or(0), std::move(*walls),
                    std::nullopt, std::move(*ties)};
    if (const nlohmann::json* list = present(value, "list")) {
        project.list = WallList::fromJSON(*list);
        if (!project.list) return std::nullopt;
    }
    return project;
}

json Project::json() const {
    nlohmann::json object = {{"id", id}, {"name", name}, {"seen", seen}, {"walls", arrayJSON(walls)}, {"ties", ties}};
    if (list) object["list"] = list->json();
    return object;
}
