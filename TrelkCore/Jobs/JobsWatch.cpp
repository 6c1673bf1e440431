// The folder watch: files that settle in "Drop here", and kept masters changed since they were
// made, are queued. A file settles when it is the same as at the previous pass and its last
// change is `quiet` seconds old.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/MediaKinds.h"

#include <cmath>

namespace fs = std::filesystem;

namespace {

// The date some file systems and copies give files whose creation date is not known: such a
// file is still being put in place.
constexpr double placeholderCreation = 443779200;
constexpr double day = 86400;
// A kept master counts as changed only when it is this much newer than when it was made.
constexpr double madeTolerance = 1;
// Each attribute read costs a system call: with more kept masters than this, a pass looks at
// this many, taking up where the last left off, and each is looked at every few passes.
constexpr size_t madeChecksPerPass = 2048;

} // namespace

Jobs::Seen Jobs::dropFolderFiles() const {
    Seen files;
    // Through a link the watch would move a folder's files from outside into the library.
    if (!Files::isRealFolder(dropFolder())) return files;
    std::error_code error;
    for (fs::directory_iterator entry(dropFolder(), error), end; !error && entry != end; entry.increment(error)) {
        const fs::path file = entry->path();
        const std::string name = file.filename().string();
        if (name.starts_with(".") || partial(name) || !MediaKinds::isMaster(file)) continue;
        if (std::optional<Files::Facts> facts = senses.facts(file)) files.emplace_back(file, *facts);
    }
    return files;
}

Jobs::MadeLook Jobs::lookAtMadeMasters() {
    MadeLook look;
    {
        std::lock_guard guard(lock);
        auto record = made.upper_bound(madeResume);
        while (look.checked.size() < std::min(made.size(), madeChecksPerPass)) {
            if (record == made.end()) record = made.begin();
            look.checked.push_back(record->first);
            ++record;
        }
        if (!look.checked.empty()) madeResume = look.checked.back();
    }
    // Through a linked "Masters" a record would name someone else's file: it is not looked at.
    const bool mastersLinked = !Files::isRealFolder(mastersFolder());
    for (const std::string& master : look.checked) {
        if (mastersLinked && fs::path(master).parent_path() == mastersFolder()) continue;
        if (std::optional<Files::Facts> read = senses.facts(master)) look.facts.emplace(master, *read);
    }
    return look;
}

void Jobs::watch() {
    {
        // Two passes queueing the same files at once would split a set between two batches.
        std::lock_guard guard(lock);
        if (watching) return;
        watching = true;
        endedInPass.clear();
    }
    struct Pass {
        Jobs& jobs;
        ~Pass() {
            std::lock_guard guard(jobs.lock);
            jobs.watching = false;
        }
    } pass{*this};
    const Time now = senses.now();
    // The folder is listed and the attributes read before the lock is taken; a job that ends
    // meanwhile is noted in endedInPass, so that its master is not taken for a new one.
    const Seen dropped = dropFolderFiles();
    const MadeLook madeLook = lookAtMadeMasters();
    senses.reached("listed");
    std::vector<Candidate> candidates;
    bool marksPruned = false;
    std::map<std::string, Mark> marks;
    uint64_t version = 0;
    {
        std::lock_guard guard(lock);
        candidates = decideLocked(now, dropped, madeLook, marksPruned);
        if (marksPruned) {
            marks = dismissed;
            version = ++dismissedVersion;
        }
    }
    if (marksPruned) saveDismissed(marks, version);
    // Files that settled together may form a set by their names.
    std::vector<fs::path> drops;
    for (const Candidate& candidate : candidates)
        if (candidate.origin == Origin::dropped) drops.push_back(candidate.master);
    if (!drops.empty()) addAll(drops, Origin::dropped, Grouping::byName);
    for (const Candidate& candidate : candidates)
        if (candidate.origin == Origin::inPlace) add(candidate.master, Origin::inPlace);
}

std::vector<Jobs::Candidate> Jobs::decideLocked(Time now, const Seen& dropped, const MadeLook& madeLook,
                                                bool& marksPruned) {
    // Held: queued or being made, being stopped, or ended since the pass began listing.
    std::set<std::string> activeMasters = endedInPass;
    for (const Job& job : list)
        if (job.active() || stopping.contains(job.id)) activeMasters.insert(job.master.string());
    const auto settled = [&](const std::string& path, const Stamp& stamp, const Files::Facts& facts,
                             const std::optional<Stamp>& before) {
        if (before != stamp) return false;
        if (facts.created && std::abs(seconds(*facts.created) - placeholderCreation) <= day) return false;
        if (seconds(now) - seconds(facts.modified) < quiet) return false;
        if (auto skip = skipped.find(path); skip != skipped.end() && skip->second == stamp) return false;
        if (auto mark = dismissed.find(path); mark != dismissed.end() && mark->second.matches(stamp)) return false;
        return !activeMasters.contains(path);
    };
    std::vector<Candidate> candidates;
    std::map<std::string, Stamp> current;
    for (const auto& [file, facts] : dropped) {
        if (facts.size < 1) continue;
        const fs::path path = standardized(file);
        const Stamp stamp{facts.size, facts.modified};
        current[path.string()] = stamp;
        auto before = seen.find(path.string());
        if (settled(path.string(), stamp, facts, before == seen.end() ? std::nullopt : std::optional(before->second)))
            candidates.push_back({path, Origin::dropped});
    }
    seen = std::move(current);
    // A mark goes once its file has left "Drop here" or changed, unless a kept master has it.
    marksPruned = std::erase_if(dismissed, [&](const auto& entry) {
        auto file = seen.find(entry.first);
        return (file == seen.end() || !entry.second.matches(file->second)) && !made.contains(entry.first);
    }) > 0;
    for (const std::string& path : madeLook.checked) {
        std::optional<Stamp> before;
        if (auto previous = seenMade.find(path); previous != seenMade.end()) {
            before = previous->second;
            seenMade.erase(previous);
        }
        auto record = made.find(path);
        auto facts = madeLook.facts.find(path);
        if (record == made.end() || facts == madeLook.facts.end() ||
            record->second.modified + madeTolerance >= seconds(facts->second.modified))
            continue;
        const Stamp stamp{facts->second.size, facts->second.modified};
        seenMade[path] = stamp;
        if (settled(path, stamp, facts->second, before)) candidates.push_back({path, Origin::inPlace});
    }
    return candidates;
}
