// sets.json: the sets under way, so that a run killed between two parts finishes the set when it
// starts again. A set is under way while any of its parts is queued or being made; it lists each
// part's job, and the part as the manifest will name it once that part is made.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/JSONField.h"
#include "TrelkCore/Library/Library.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool hexDigits(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool jobID(const std::string& id) { return id.size() == 9 && id[0] == 'j' && hexDigits(id.substr(1)); }
bool batchID(const std::string& id) { return id.size() == 8 && hexDigits(id); }

// A part of this library: its folder and file are names, never paths out of it.
bool ownPart(const SetPart& part) { return Library::safeName(part.dir) && Library::safeName(part.file); }

bool there(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

// A job of a set under way as sets.json keeps it; none for anything else.
std::optional<Job> jobIn(const json& value, const std::string& set, const std::string& batch) {
    std::optional<std::string> id = JSONField::string(JSONField::member(value, "id"));
    std::optional<std::string> master = JSONField::string(JSONField::member(value, "master"));
    const json* dropped = JSONField::member(value, "dropped");
    const json* ordered = JSONField::member(value, "ordered");
    const json* index = JSONField::member(value, "index");
    const json* part = JSONField::member(value, "part");
    if (!id || !jobID(*id) || !master || !fs::path(*master).is_absolute() || !dropped || !dropped->is_boolean() ||
        !ordered || !ordered->is_boolean() || (index && !JSONField::integer(index)))
        return std::nullopt;
    Job job;
    job.id = *id;
    job.master = fs::path(*master);
    job.origin = dropped->get<bool>() ? Origin::dropped : Origin::inPlace;
    job.set = set;
    job.batch = batch;
    job.setIndex = index ? JSONField::integer(index) : std::nullopt;
    job.order = ordered->get<bool>() ? PartOrder::asGiven : PartOrder::byName;
    if (part) {
        job.part = SetPart::decoded(*part);
        if (!job.part || !ownPart(*job.part)) return std::nullopt;
    }
    return job;
}

json jobOut(const Job& job, const std::optional<SetPart>& part) {
    json value = {{"id", job.id}, {"master", job.master.string()}, {"dropped", job.dropped()},
                  {"ordered", job.order == PartOrder::asGiven}};
    if (job.setIndex) value["index"] = *job.setIndex;
    if (part) value["part"] = part->encoded();
    return value;
}

// Every set or none, as the other stores.
std::optional<std::vector<Job>> jobsIn(const json& sets) {
    if (!sets.is_array()) return std::nullopt;
    std::vector<Job> jobs;
    for (const json& entry : sets) {
        std::optional<std::string> set = JSONField::string(JSONField::member(entry, "set"));
        std::optional<std::string> batch = JSONField::string(JSONField::member(entry, "batch"));
        const json* parts = JSONField::member(entry, "jobs");
        if (!set || !Library::safeName(SetName::fileName(*set)) || !batch || !batchID(*batch) || !parts ||
            !parts->is_array())
            return std::nullopt;
        for (const json& part : *parts) {
            std::optional<Job> job = jobIn(part, *set, *batch);
            if (!job || std::ranges::find(jobs, job->id, &Job::id) != jobs.end()) return std::nullopt;
            jobs.push_back(std::move(*job));
        }
    }
    return jobs;
}

} // namespace

std::string Jobs::setsUnderWayLocked() const {
    json sets = json::array();
    std::set<std::pair<std::string, std::string>> written;
    for (const Job& job : list) {
        if (!job.set || !job.batch || abandoned.contains(*job.batch)) continue;
        if (!written.emplace(*job.batch, *job.set).second) continue;
        const auto inSet = [&](const Job& other) { return other.set == job.set && other.batch == job.batch; };
        if (std::ranges::none_of(list, [&](const Job& other) { return inSet(other) && other.active(); })) continue;
        json jobs = json::array();
        for (const Job& part : list) {
            if (!inSet(part)) continue;
            auto making = lastPart.find(part.id);
            if (part.active()) jobs.push_back(jobOut(part, making != lastPart.end() ? std::optional(making->second)
                                                                                    : std::nullopt));
            // A part made as a package, or stopped, is not one the manifest would list.
            else if (part.is<Job::Done>() && part.part) jobs.push_back(jobOut(part, part.part));
        }
        sets.push_back({{"set", *job.set}, {"batch", *job.batch}, {"jobs", std::move(jobs)}});
    }
    return sets.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Jobs::saveSets() {
    std::string text;
    uint64_t version = 0;
    {
        std::lock_guard guard(lock);
        if (!setsStore) return;
        text = setsUnderWayLocked();
        if (text == setsSaved) return;
        setsSaved = text;
        version = ++setsVersion;
    }
    std::lock_guard guard(writing);
    if (version <= setsWritten) return;
    setsWritten = version;
    setsStore->save(text);
}

void Jobs::notePart(const Job& job, const SetPart& part) {
    {
        std::lock_guard guard(lock);
        lastPart[job.id] = part;
    }
    if (job.set) saveSets();
}

// Called once, before the runner starts: a part whose file is in place is made, one whose master
// is still there is made again, one with neither is left out; a set with nothing left to make
// gets its manifest now.
void Jobs::resumeSets() {
    if (!setsStore) return;
    std::optional<std::string> text = setsStore->read();
    if (!text) return;
    std::optional<std::vector<Job>> jobs = jobsIn(json::parse(*text, nullptr, false));
    if (!jobs) {
        setsStore->unreadable();
        return;
    }
    setsSaved = *text;
    std::vector<std::optional<std::pair<fs::path, std::string>>> manifests;
    {
        std::lock_guard guard(lock);
        for (Job& job : *jobs) {
            if (job.part && there(library / job.part->dir / job.part->file)) {
                job.state = Job::Done{};
                job.asset = Library::id(job.part->dir + "/" + job.part->file);
                list.push_back(std::move(job));
            } else if (there(job.master)) {
                job.part.reset();
                list.push_back(std::move(job));
            }
        }
        std::set<std::pair<std::optional<std::string>, std::optional<std::string>>> finished;
        for (const Job& job : list)
            if (finished.emplace(job.batch, job.set).second) manifests.push_back(finishSetLocked(job));
    }
    for (const auto& manifest : manifests) writeManifest(manifest);
    saveSets();
    next();
}
