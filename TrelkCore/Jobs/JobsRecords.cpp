// masters.json and dismissed.json: what was made of each kept master, and what the user dismissed.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/JSONField.h"
#include "TrelkCore/Library/Library.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::optional<json> objectIn(StoreFile& store) {
    std::optional<std::string> text = store.read();
    if (!text) return std::nullopt;
    json value = json::parse(*text, nullptr, false);
    if (value.is_object()) return value;
    store.unreadable();
    return std::nullopt;
}

// A date in seconds: finite, whatever the JSON text said.
std::optional<double> seconds(const json* value) {
    std::optional<double> number = JSONField::number(value);
    return number && std::isfinite(*number) ? number : std::nullopt;
}

// A record's folder is one of the library's own: never a path out of it, nor the queue's folders.
bool outputName(std::string_view name) {
    return Library::safeName(name) && name != LibraryFolders::drop && name != LibraryFolders::masters;
}

bool masterPath(const std::string& path) { return fs::path(path).is_absolute(); }

std::optional<Jobs::Made> madeIn(const json& value) {
    std::optional<double> modified = seconds(JSONField::member(value, "modified"));
    std::optional<std::string> output = JSONField::string(JSONField::member(value, "output"));
    if (!modified || !output || !outputName(*output)) return std::nullopt;
    return Jobs::Made{*modified, *output};
}

std::optional<Jobs::Mark> markIn(const json& value) {
    std::optional<int64_t> bytes = JSONField::integer(JSONField::member(value, "bytes"));
    std::optional<double> modified = seconds(JSONField::member(value, "modified"));
    if (!bytes || !modified) return std::nullopt;
    return Jobs::Mark{*bytes, *modified};
}

// Every record or none: a store that does not read as a whole is set aside, not half taken.
template <class Record, class Reader>
std::map<std::string, Record> recordsIn(std::optional<StoreFile>& store, Reader reader) {
    std::map<std::string, Record> records;
    if (!store) return records;
    std::optional<json> object = objectIn(*store);
    if (!object) return records;
    for (const auto& [path, value] : object->items()) {
        std::optional<Record> record = reader(value);
        if (!record || !masterPath(path)) {
            store->unreadable();
            return {};
        }
        records.emplace(path, *record);
    }
    return records;
}

void save(std::optional<StoreFile>& store, const json& object) {
    if (store) store->save(object.dump(-1, ' ', false, json::error_handler_t::replace));
}

} // namespace

std::map<std::string, Jobs::Made> Jobs::madeRecords(std::optional<StoreFile>& store) {
    return recordsIn<Made>(store, madeIn);
}

void Jobs::loadRecords() {
    made = madeRecords(store);
    dismissed = recordsIn<Mark>(dismissedStore, markIn);
}

void Jobs::saveMade(const std::map<std::string, Made>& records) {
    json object = json::object();
    for (const auto& [path, record] : records) object[path] = {{"modified", record.modified}, {"output", record.output}};
    save(store, object);
}

void Jobs::saveDismissed(const std::map<std::string, Mark>& marks, uint64_t version) {
    std::lock_guard guard(writing);
    if (version <= dismissedWritten) return;
    dismissedWritten = version;
    json object = json::object();
    for (const auto& [path, mark] : marks) object[path] = {{"bytes", mark.bytes}, {"modified", mark.modified}};
    save(dismissedStore, object);
}

fs::path Jobs::keptPlace(const std::string& name) const {
    if (!Files::isRealFolder(mastersFolder()))
        throw TrelkError("won't keep masters in a linked folder · make Masters a folder of its own");
    for (int n = 1;; ++n) {
        const fs::path place = mastersFolder() / Files::numbered(name, n);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(place, error))) return place;
        std::lock_guard guard(lock);
        if (made.contains(place.string())) return place;
    }
}
