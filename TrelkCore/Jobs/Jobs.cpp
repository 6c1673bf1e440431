#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Library/Sets.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Priority.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <cmath>
#include <ranges>

namespace fs = std::filesystem;

namespace {

// Finished jobs kept in the list besides the active ones.
constexpr size_t finishedKept = 30;

bool isStillFile(const fs::path& file) {
    const std::string extension = MediaKinds::extension(file);
    return MediaKinds::stillTypes.contains(extension) || MediaKinds::stillMadeTypes.contains(extension);
}

// Removes the oldest finished jobs beyond the number kept; active jobs always stay.
void prune(std::vector<Job>& list) {
    size_t finished = size_t(std::ranges::count_if(list, [](const Job& job) { return !job.active(); }));
    std::erase_if(list, [&](const Job& job) { return !job.active() && finished-- > finishedKept; });
}

} // namespace

bool Jobs::Mark::matches(const Stamp& stamp) const {
    return bytes == stamp.bytes && std::abs(seconds(stamp.modified) - modified) < 0.001;
}

Jobs::Jobs(fs::path library, LadderEngine& engine, std::optional<fs::path> store)
    : Jobs(std::move(library), engine, std::move(store), Senses{}) {}

Jobs::Jobs(fs::path library, LadderEngine& engine, std::optional<fs::path> store, Senses senses)
    : library(standardized(library)), engine(engine), senses(std::move(senses)) {
    if (store) {
        this->store.emplace(*store, storeLimit, 0600);
        dismissedStore.emplace(store->parent_path() / "dismissed.json", storeLimit, 0600);
        setsStore.emplace(store->parent_path() / "sets.json", storeLimit, 0600);
    }
    loadRecords();
    tidyLeftovers();
    resumeSets();
    std::error_code ignored;
    fs::create_directories(dropFolder(), ignored);
    runner = std::thread([this] {
        Priority::background(); // the making and all it starts yield to the service and the desktop
        runnerLoop();
    });
}

Jobs::~Jobs() {
    {
        std::lock_guard guard(lock);
        closing = true;
    }
    wake.notify_all();
    runner.join();
}

fs::path Jobs::standardized(const fs::path& file) {
    fs::path normal = file.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return normal;
}

double Jobs::seconds(Time time) { return std::chrono::duration<double>(time.time_since_epoch()).count(); }

void Jobs::onChange(std::function<void()> callback) {
    std::lock_guard guard(lock);
    changed = std::move(callback);
}

void Jobs::setQuiet(double seconds) {
    std::lock_guard guard(lock);
    quiet = seconds;
}

void Jobs::setProgressPause(std::chrono::milliseconds pause) {
    std::lock_guard guard(lock);
    progressPause = pause;
}

void Jobs::announce() {
    std::function<void()> callback;
    {
        std::lock_guard guard(lock);
        if (closing) return;
        callback = changed;
    }
    if (callback) callback();
}

Job* Jobs::listedLocked(const std::string& id) {
    auto found = std::ranges::find(list, id, &Job::id);
    return found == list.end() ? nullptr : &*found;
}

std::vector<Job> Jobs::jobs() const {
    std::lock_guard guard(lock);
    return list;
}

bool Jobs::idle() const {
    std::lock_guard guard(lock);
    return !running && std::ranges::none_of(list, &Job::active);
}

std::vector<KeptMaster> Jobs::keptMasters() const {
    std::map<std::string, Made> records;
    {
        std::lock_guard guard(lock);
        records = made;
    }
    return keptIn(mastersFolder(), records);
}

std::vector<KeptMaster> Jobs::keptMasters(const fs::path& library, const fs::path& storePath) {
    std::optional<StoreFile> records(std::in_place, storePath, storeLimit, 0600);
    return keptIn(library / LibraryFolders::masters, madeRecords(records));
}

std::vector<KeptMaster> Jobs::keptIn(const fs::path& masters, const std::map<std::string, Made>& made) {
    std::vector<KeptMaster> kept;
    // A linked "Masters" holds someone else's files: none of them is ours to offer for the Trash.
    if (!Files::isRealFolder(masters)) return kept;
    std::error_code error;
    for (fs::directory_iterator entry(masters, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path file = entry->path();
        if (file.filename().string().starts_with(".")) continue;
        std::optional<Files::Facts> facts = Files::facts(file);
        if (!facts) continue;
        kept.push_back({file, facts->size, std::nullopt});
        if (auto record = made.find(standardized(file).string()); record != made.end())
            kept.back().output = record->second.output;
    }
    std::ranges::sort(kept, [](const KeptMaster& a, const KeptMaster& b) {
        return Text::compareNames(a.url.filename().string(), b.url.filename().string()) < 0;
    });
    return kept;
}

std::optional<std::string> Jobs::add(const fs::path& master, Origin origin, std::optional<std::string> set,
                                     std::optional<std::string> batch, std::optional<int64_t> index, PartOrder order) {
    Job job;
    job.id = Job::newID();
    job.master = standardized(master);
    job.origin = origin;
    job.set = std::move(set);
    job.batch = std::move(batch);
    job.setIndex = index;
    job.order = order;
    {
        std::lock_guard guard(lock);
        if (std::ranges::any_of(list, [&](const Job& other) { return other.active() && other.master == job.master; }))
            return std::nullopt;
        list.push_back(job);
        prune(list);
    }
    if (job.set) saveSets();
    announce();
    next();
    return job.id;
}

std::vector<std::optional<std::string>> Jobs::addAll(const std::vector<fs::path>& masters, Origin origin,
                                                     Grouping grouping) {
    if (grouping == Grouping::separate || std::ranges::none_of(masters, isStillFile))
        return addGroups(masters, origin, grouping);
    // Stills never join a set: the others first, as one drop, then each still alone.
    std::vector<std::optional<std::string>> results(masters.size());
    std::vector<size_t> others;
    for (size_t i = 0; i < masters.size(); ++i)
        if (!isStillFile(masters[i])) others.push_back(i);
    std::vector<fs::path> videos;
    for (size_t i : others) videos.push_back(masters[i]);
    std::vector<std::optional<std::string>> made = addAll(videos, origin, grouping);
    for (size_t k = 0; k < others.size(); ++k) results[others[k]] = made[k];
    for (size_t i = 0; i < masters.size(); ++i)
        if (isStillFile(masters[i])) results[i] = add(masters[i], origin);
    return results;
}

std::vector<std::optional<std::string>> Jobs::addGroups(const std::vector<fs::path>& masters, Origin origin,
                                                        Grouping grouping) {
    std::vector<std::optional<std::string>> results;
    if (grouping == Grouping::separate) {
        for (const fs::path& master : masters) results.push_back(add(master, origin));
        return results;
    }
    const std::string batch = Job::newBatch();
    std::vector<std::string> names;
    for (const fs::path& master : masters) names.push_back(master.filename().string());
    if (grouping == Grouping::oneCue && masters.size() > 1) {
        const std::string set = SetName::common(names);
        for (size_t i = 0; i < masters.size(); ++i) results.push_back(add(masters[i], origin, set, batch, i, PartOrder::asGiven));
        return results;
    }
    // By name: each position's set and its rank within the set, in input order.
    std::vector<std::optional<std::pair<std::string, int64_t>>> places(masters.size());
    for (const auto& [set, positions] : SetName::groups(names))
        for (size_t rank = 0; rank < positions.size(); ++rank) places[positions[rank]] = {set, int64_t(rank)};
    for (size_t i = 0; i < masters.size(); ++i) {
        if (places[i]) results.push_back(add(masters[i], origin, places[i]->first, batch, places[i]->second));
        else results.push_back(add(masters[i], origin));
    }
    return results;
}

void Jobs::cancel(const std::string& id) {
    {
        std::lock_guard guard(lock);
        if (Job* job = listedLocked(id)) {
            if (job->is<Job::Making>()) {
                stopping.insert(id);
                job->state = Job::Cancelled{};
            } else if (job->is<Job::Queued>()) {
                job->state = Job::Cancelled{};
                recordSkipLocked(*job);
                endedLocked(*job);
            }
        }
    }
    saveSets();
    announce();
}

void Jobs::cancelSet(const std::string& batch) {
    std::vector<std::string> ids;
    {
        std::lock_guard guard(lock);
        abandoned.insert(batch);
        for (const Job& job : list)
            if (job.active() && job.batch == batch) ids.push_back(job.id);
    }
    for (const std::string& id : ids) cancel(id);
    if (ids.empty()) {
        saveSets();
        announce();
    }
}

void Jobs::retry(const std::string& id) {
    Job old;
    {
        std::lock_guard guard(lock);
        Job* job = listedLocked(id);
        if (!job || job->active()) return;
        old = *job;
        std::erase_if(list, [&](const Job& each) { return each.id == id; });
        skipped.erase(old.master.string());
        if (old.batch) abandoned.erase(*old.batch);
    }
    add(old.master, old.origin, old.set, old.batch, old.setIndex, old.order);
}

void Jobs::retrySet(const std::string& batch) {
    std::vector<std::string> ids;
    {
        std::lock_guard guard(lock);
        for (const Job& job : list)
            if (job.batch == batch && job.stopped()) ids.push_back(job.id);
    }
    for (const std::string& id : ids) retry(id);
}

bool Jobs::dismissLocked(const std::set<std::string>& ids) {
    bool marked = false;
    for (const Job& job : list) {
        if (!ids.contains(job.id) || !job.stopped()) continue;
        const std::string path = job.master.string();
        auto skip = skipped.find(path);
        std::optional<Stamp> last = skip != skipped.end() ? std::optional(skip->second) : stamp(job.master);
        if (!last) continue;
        dismissed[path] = Mark{last->bytes, seconds(last->modified)};
        marked = true;
    }
    std::erase_if(list, [&](const Job& job) { return ids.contains(job.id) && !job.active(); });
    return marked;
}

void Jobs::remove(const std::set<std::string>& ids) {
    std::optional<std::map<std::string, Mark>> marks;
    uint64_t version = 0;
    {
        std::lock_guard guard(lock);
        if (dismissLocked(ids)) {
            marks = dismissed;
            version = ++dismissedVersion;
        }
    }
    if (marks) saveDismissed(*marks, version);
    announce();
}

void Jobs::clearFailed() {
    std::set<std::string> ids;
    {
        std::lock_guard guard(lock);
        for (const Job& job : list)
            if (job.stopped()) ids.insert(job.id);
    }
    remove(ids);
}

std::optional<Jobs::Stamp> Jobs::stamp(const fs::path& file) const {
    std::optional<Files::Facts> facts = senses.facts(file);
    if (!facts) return std::nullopt;
    return Stamp{facts->size, facts->modified};
}

void Jobs::endedLocked(const Job& job) {
    if (watching) endedInPass.insert(job.master.string());
}

void Jobs::recordSkipLocked(const Job& job) {
    if (std::optional<Stamp> now = stamp(job.master)) skipped[job.master.string()] = *now;
}
