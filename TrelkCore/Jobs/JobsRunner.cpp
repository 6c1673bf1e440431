// The runner: takes the oldest queued job, makes it in a hidden work folder of the library and
// puts the result in its own folder, one job at a time on the queue's thread.
//
// A kill at any moment loses nothing: a dropped master is never moved into the work folder but
// given a second name there (or copied), and leaves "Drop here" only once its renditions are in
// place; the record of a kept master is written before its output moves in, so that a master
// made again after a kill goes back into the same folder; an earlier output is swapped out in
// one step where the file system can.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Stills.h"
#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/Making.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/FileMoves.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

struct Jobs::Rendition {
    std::string file;     // the one made file that stands for the master
    bool asItIs = false;  // the master itself, used as it is
    std::optional<MasterInfo> single; // the facts of a lone made video, which a set can list
};

namespace {

// The work folder goes however the making ends; on success it is empty or holds an earlier output.
struct Removal {
    const fs::path& folder;
    ~Removal() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

// The master's facts; when it cannot be read, the terminal is told what failed.
MasterInfo probed(LadderEngine& engine, const fs::path& master) {
    try {
        return engine.probe(master);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception& failure) {
        throw UnreadableMaster(failure);
    }
}

} // namespace

void Jobs::next() {
    {
        std::lock_guard guard(lock);
        if (running || closing) return;
        auto job = std::ranges::find_if(list, [](const Job& each) { return each.is<Job::Queued>(); });
        if (job == list.end()) return;
        running = true;
        job->state = Job::Making{0};
        taken = *job;
    }
    wake.notify_one();
    announce();
}

void Jobs::runnerLoop() {
    std::unique_lock guard(lock);
    while (true) {
        wake.wait(guard, [&] { return closing || taken; });
        if (closing) return;
        const Job job = *std::exchange(taken, std::nullopt);
        guard.unlock();
        run(job);
        guard.lock();
    }
}

void Jobs::run(const Job& job) {
    const Job::State state = makeOne(job);
    const bool done = std::holds_alternative<Job::Done>(state);
    std::optional<std::pair<fs::path, std::string>> manifest;
    {
        std::lock_guard guard(lock);
        if (Job* listedJob = listedLocked(job.id)) {
            listedJob->state = state;
            auto part = lastPart.find(job.id);
            listedJob->part = done && part != lastPart.end() ? std::optional(part->second) : std::nullopt;
            auto asset = lastAsset.find(job.id);
            listedJob->asset = done && asset != lastAsset.end() ? std::optional(asset->second) : std::nullopt;
            if (!done) recordSkipLocked(*listedJob);
        }
        endedLocked(job);
        lastPart.erase(job.id);
        lastAsset.erase(job.id);
        stopping.erase(job.id);
        manifest = finishSetLocked(job);
    }
    senses.reached("ended");
    writeManifest(manifest);
    // A set leaves the sets under way only once its manifest is there.
    if (job.set) saveSets();
    {
        // Only now: an idle queue has written all it made.
        std::lock_guard guard(lock);
        running = false;
    }
    announce();
    next();
}

void Jobs::writeManifest(const std::optional<std::pair<fs::path, std::string>>& manifest) {
    if (!manifest) return;
    try {
        Files::writeAtomically(manifest->first, manifest->second, 0644);
    } catch (const std::exception&) {
        // The parts are made and listed on their own.
    }
}

Job::State Jobs::makeOne(const Job& job) {
    const fs::path work = library / (std::string(LibraryFolders::workPrefix) + job.id);
    const Removal removal{work};
    try {
        std::error_code error;
        if (!fs::exists(job.master, error)) throw TrelkError("the master isn't there any more");
        Files::createFolders(work);
        std::optional<Files::Facts> master = senses.facts(job.master);
        const Time madeDate = master ? master->modified : senses.now();
        const std::string base = Ladder::base(job.name());
        const Rendition rendition =
            MediaKinds::isStill(job.master) ? makeStill(job, work, base) : makeVideo(job, work);
        if (stopped(job.id)) return Job::Cancelled{};
        keep(job, work, base, rendition, madeDate);
        return Job::Done{};
    } catch (const CancellationError&) {
        return Job::Cancelled{};
    } catch (const std::exception& error) {
        if (stopped(job.id)) return Job::Cancelled{};
        const auto* unreadable = dynamic_cast<const UnreadableMaster*>(&error);
        return Job::Failed{error.what(), unreadable ? unreadable->told : ""};
    }
}

Jobs::Rendition Jobs::makeStill(const Job& job, const fs::path& work, const std::string& base) {
    Files::createFolders(work);
    const Stills::Made made =
        Stills::make(job.master, work, base, job.dropped() ? Making::Transfer::link : Making::Transfer::copy);
    progress(job.id, 1.0);
    return {made.file, made.asItIs, std::nullopt};
}

Jobs::Rendition Jobs::makeVideo(const Job& job, const fs::path& work) {
    const MasterInfo info = probed(engine, job.master);
    const std::string id = job.id;
    noteAssumed(id, info.picture.assumed);
    const Making::Made result = Making::videoIn(
        engine, job.master, info, work, job.dropped() ? Making::Transfer::link : Making::Transfer::copy,
        AVEngine::encoderName, [this, id](double fraction) { progress(id, fraction); },
        [this, id] { return stopped(id); });
    // A single file is a part a set can list; a package is not.
    if (result.files.size() == 1) return {result.madeFile, result.asItIs, info};
    return {result.madeFile, result.asItIs, std::nullopt};
}

void Jobs::keep(const Job& job, const fs::path& work, const std::string& base, const Rendition& rendition,
                Time madeDate) {
    std::error_code error;
    const bool toMasters = job.dropped() && !rendition.asItIs && fs::exists(job.master, error);
    fs::path keptMaster;
    std::optional<std::string> kept;
    if (toMasters) {
        Files::createFolders(mastersFolder());
        keptMaster = keptPlace(job.name());
        kept = keptMaster.string();
    } else if (!job.dropped()) {
        kept = job.master.string();
    }
    const std::string name = outputName(base, kept);
    senses.reached("made");
    // The record goes first: a master made again after a kill then goes back into the same folder.
    std::optional<Made> before;
    if (kept) before = record(*kept, Made{seconds(madeDate), name});
    senses.reached("recorded");
    if (rendition.single) notePart(job, SetPart{name, rendition.file, rendition.single->w, rendition.single->h,
                                                rendition.single->duration});
    try {
        place(work, name);
    } catch (...) {
        if (kept) record(*kept, before);
        throw;
    }
    {
        std::lock_guard guard(lock);
        lastAsset[job.id] = Library::id(name + "/" + rendition.file);
    }
    senses.reached("placed");
    // Replaces the earlier kept master of the same record in one step: one of the two is always
    // there. Anything else at that place is never replaced.
    if (toMasters && before) fs::rename(job.master, keptMaster);
    else if (toMasters) Files::moveNoReplace(job.master, keptMaster);
    // The master is its own rendition, now in place: "Drop here" lets go of its name.
    else if (job.dropped() && rendition.asItIs) fs::remove(job.master, error);
}

std::optional<Jobs::Made> Jobs::record(const std::string& kept, const std::optional<Made>& value) {
    std::optional<Made> before;
    std::map<std::string, Made> records;
    {
        std::lock_guard guard(lock);
        if (auto record = made.find(kept); record != made.end()) before = record->second;
        if (value) made[kept] = *value;
        else made.erase(kept);
        records = made;
    }
    saveMade(records);
    return before;
}

std::string Jobs::outputName(const std::string& base, const std::optional<std::string>& kept) {
    std::set<std::string> outputs;
    {
        std::lock_guard guard(lock);
        if (kept)
            if (auto record = made.find(*kept); record != made.end()) return record->second.output;
        for (const auto& [master, record] : made) outputs.insert(record.output);
    }
    for (int number = 1;; ++number) {
        const std::string name = number == 1 ? base : base + " " + std::to_string(number);
        if (name == LibraryFolders::drop || name == LibraryFolders::masters || outputs.contains(name)) continue;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(library / name, error))) return name;
    }
}

void Jobs::place(const fs::path& work, const std::string& name) {
    const fs::path destination = library / name;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(destination, error);
    if (!fs::exists(status)) return Files::moveNoReplace(work, destination);
    if (!fs::is_directory(status))
        throw std::system_error(std::make_error_code(std::errc::not_a_directory), destination.string());
    // The earlier output then waits in the work folder, which goes.
    if (Files::exchange(work, destination)) return;
    // Named after its place, so that a kill in between can be undone: see JobsLeftovers.cpp.
    const fs::path aside = library / (".old-" + Crypto::randomUUID() + "-" + name);
    Files::moveNoReplace(destination, aside);
    try {
        Files::moveNoReplace(work, destination);
    } catch (...) {
        fs::rename(aside, destination, error);
        throw;
    }
    fs::remove_all(aside, error);
}

void Jobs::progress(const std::string& id, double fraction) {
    {
        std::lock_guard guard(lock);
        Job* job = listedLocked(id);
        if (!job || !job->is<Job::Making>()) return;
        job->state = Job::Making{fraction};
        const auto now = std::chrono::steady_clock::now();
        auto shown = lastShown.find(id);
        if (shown != lastShown.end() &&
            (fraction < shown->second.fraction + 0.01 || now - shown->second.at < progressPause))
            return;
        lastShown[id] = {fraction, now};
    }
    announce();
}

void Jobs::noteAssumed(const std::string& id, const std::vector<std::string>& assumed) {
    if (assumed.empty()) return;
    {
        std::lock_guard guard(lock);
        Job* job = listedLocked(id);
        if (!job) return;
        job->assumed = assumed;
    }
    announce();
}

bool Jobs::stopped(const std::string& id) const {
    std::lock_guard guard(lock);
    return closing || stopping.contains(id);
}

std::optional<std::pair<fs::path, std::string>> Jobs::finishSetLocked(const Job& job) {
    if (!job.set || !job.batch || abandoned.contains(*job.batch)) return std::nullopt;
    std::vector<size_t> parts;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].set == job.set && list[i].batch == job.batch) parts.push_back(i);
    if (std::ranges::any_of(parts, [&](size_t i) { return list[i].active(); })) return std::nullopt;
    std::erase_if(parts, [&](size_t i) { return !list[i].part; });
    std::ranges::stable_sort(parts, {}, [&](size_t i) { return list[i].setIndex.value_or(int64_t(i)); });
    if (parts.size() < 2) return std::nullopt;
    const std::string file = SetName::fileName(*job.set);
    SetManifest manifest(*job.set, {});
    for (size_t i : parts) {
        list[i].setAsset = Library::id(file);
        manifest.parts.push_back(*list[i].part);
        if (list[i].order == PartOrder::asGiven) manifest.ordered = true;
    }
    std::string data = manifest.data();
    if (data.empty()) return std::nullopt;
    return std::pair{library / file, std::move(data)};
}
