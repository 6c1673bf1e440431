#pragma once
#include "TrelkCore/Jobs/Grouping.h"
#include "TrelkCore/Jobs/Job.h"
#include "TrelkCore/Library/KeptMaster.h"
#include "TrelkCore/LibraryFolders.h"
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/StoreFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

class LadderEngine;

// The job queue: every master the library makes renditions of passes through it, one making at
// a time on the queue's own thread. Its three sources: the store and its operations (Jobs.cpp),
// the runner (JobsRunner.cpp), the watch of "Drop here" and of the kept masters (JobsWatch.cpp);
// the made records and dismissals it keeps on disk are in JobsRecords.cpp, the tidying of an
// earlier run's leftovers in JobsLeftovers.cpp, the sets it takes up again after a kill in
// JobsSets.cpp.
class Jobs {
public:
    using Time = std::chrono::system_clock::time_point;

    // What a file was like when it was looked at: same stamp, same file.
    struct Stamp {
        int64_t bytes = 0;
        Time modified;
        bool operator==(const Stamp&) const = default;
    };
    // What was made of a kept master, as masters.json keeps it.
    struct Made {
        double modified = 0; // seconds since 1970
        std::string output;  // the folder in the library
        bool operator==(const Made&) const = default;
    };
    // A failed or cancelled master the user dismissed, as dismissed.json keeps it.
    struct Mark {
        int64_t bytes = 0;
        double modified = 0; // seconds since 1970
        bool matches(const Stamp& stamp) const;
        bool operator==(const Mark&) const = default;
    };
    // The time and the files' attributes as the queue sees them, and the steps of a making as
    // it passes them ("made", "recorded", "placed", "ended") and of a watch pass ("listed");
    // tests set them, and stop a making or a pass there.
    struct Senses {
        std::function<Time()> now = [] { return std::chrono::system_clock::now(); };
        std::function<std::optional<Files::Facts>(const std::filesystem::path&)> facts = Files::facts;
        std::function<void(std::string_view step)> reached = [](std::string_view) {};
    };

    // Reads masters.json (store) and dismissed.json beside it, tidies what an earlier run left
    // when it was killed, creates "Drop here" and starts the runner's thread. The engine must
    // outlive the queue.
    Jobs(std::filesystem::path library, LadderEngine& engine, std::optional<std::filesystem::path> store);
    Jobs(std::filesystem::path library, LadderEngine& engine, std::optional<std::filesystem::path> store,
         Senses senses);
    // Cancels the making under way and waits for it.
    ~Jobs();
    Jobs(const Jobs&) = delete;
    Jobs& operator=(const Jobs&) = delete;

    // Called after every change of the list or of a job, on the thread that made it, never
    // under the queue's lock.
    void onChange(std::function<void()> callback);
    void setQuiet(double seconds);
    // How long after telling a making's progress the next step waits to be told (250 ms).
    void setProgressPause(std::chrono::milliseconds pause);

    std::vector<Job> jobs() const;
    bool idle() const;
    std::vector<KeptMaster> keptMasters() const;
    // The same, read without a queue (and without changing anything) from a library and the
    // masters.json the queue keeps for it.
    static std::vector<KeptMaster> keptMasters(const std::filesystem::path& library,
                                               const std::filesystem::path& store);

    // The new job's id; none when the master already has an active job.
    std::optional<std::string> add(const std::filesystem::path& master, Origin origin,
                                   std::optional<std::string> set = {}, std::optional<std::string> batch = {},
                                   std::optional<int64_t> index = {}, PartOrder order = PartOrder::byName);
    // One result per master, in their order.
    std::vector<std::optional<std::string>> addAll(const std::vector<std::filesystem::path>& masters, Origin origin,
                                                   Grouping grouping);
    void cancel(const std::string& id);
    void cancelSet(const std::string& batch);
    void retry(const std::string& id);
    void retrySet(const std::string& batch);
    // Dismisses finished jobs; a failed or cancelled master is then left alone while unchanged.
    void remove(const std::set<std::string>& ids);
    void clearFailed();
    // One pass of the folder watch.
    void watch();

    // The file's size and modification date as the queue sees them; none when they cannot be read.
    std::optional<Stamp> stamp(const std::filesystem::path& file) const;
    // Whether the name is that of a download still under way.
    static bool partial(std::string_view name);
    std::filesystem::path dropFolder() const { return library / LibraryFolders::drop; }
    std::filesystem::path mastersFolder() const { return library / LibraryFolders::masters; }

private:
    struct Rendition; // what a making put in its work folder
    struct Candidate {
        std::filesystem::path master;
        Origin origin;
    };

    // Jobs.cpp
    static std::filesystem::path standardized(const std::filesystem::path& file);
    static double seconds(Time time);
    void announce();
    // The ...Locked functions expect the queue's lock held.
    Job* listedLocked(const std::string& id);
    void recordSkipLocked(const Job& job);
    void endedLocked(const Job& job);                     // it has left the active states
    bool dismissLocked(const std::set<std::string>& ids); // whether marks changed
    std::vector<std::optional<std::string>> addGroups(const std::vector<std::filesystem::path>& masters,
                                                      Origin origin, Grouping grouping);

    // JobsRunner.cpp
    void next();
    void runnerLoop();
    void run(const Job& job);
    Job::State makeOne(const Job& job);
    Rendition makeStill(const Job& job, const std::filesystem::path& work, const std::string& base);
    Rendition makeVideo(const Job& job, const std::filesystem::path& work);
    void keep(const Job& job, const std::filesystem::path& work, const std::string& base, const Rendition& rendition,
              Time madeDate);
    // Sets (or with none removes) a kept master's record and writes masters.json; the record it replaced.
    std::optional<Made> record(const std::string& kept, const std::optional<Made>& value);
    std::string outputName(const std::string& base, const std::optional<std::string>& kept);
    void place(const std::filesystem::path& work, const std::string& name);
    void progress(const std::string& id, double fraction);
    void noteAssumed(const std::string& id, const std::vector<std::string>& assumed);
    bool stopped(const std::string& id) const;
    std::optional<std::pair<std::filesystem::path, std::string>> finishSetLocked(const Job& job);
    void writeManifest(const std::optional<std::pair<std::filesystem::path, std::string>>& manifest);

    // JobsWatch.cpp
    using Seen = std::vector<std::pair<std::filesystem::path, Files::Facts>>;
    struct MadeLook {
        std::vector<std::string> checked;            // the kept masters looked at in this pass
        std::map<std::string, Files::Facts> facts; // of those that could be read
    };
    Seen dropFolderFiles() const;
    MadeLook lookAtMadeMasters();
    std::vector<Candidate> decideLocked(Time now, const Seen& dropped, const MadeLook& madeLook,
                                        bool& marksPruned);

    // JobsRecords.cpp
    static constexpr int64_t storeLimit = int64_t(64) << 20; // the largest store file read
    void loadRecords();
    static std::map<std::string, Made> madeRecords(std::optional<StoreFile>& store);
    static std::vector<KeptMaster> keptIn(const std::filesystem::path& masters, const std::map<std::string, Made>& made);
    // Where a dropped master is kept: its name in "Masters", or the next free one when a file
    // there is not the kept master of a record. Throws when "Masters" is not a folder of its own.
    std::filesystem::path keptPlace(const std::string& name) const;
    void saveMade(const std::map<std::string, Made>& records);
    // Writes the marks unless a later copy (a higher version) was written meanwhile.
    void saveDismissed(const std::map<std::string, Mark>& marks, uint64_t version);

    // JobsLeftovers.cpp
    void tidyLeftovers();

    // JobsSets.cpp
    // Writes sets.json when the sets under way changed: what a set has made and what it waits for.
    void saveSets();
    std::string setsUnderWayLocked() const;
    // What a set made goes on record before it is placed, so that a kill cannot cut it off its set.
    void notePart(const Job& job, const SetPart& part);
    // Takes up the sets an earlier run left under way: parts made, parts to make again.
    void resumeSets();

    const std::filesystem::path library;
    LadderEngine& engine;
    std::optional<StoreFile> store;
    std::optional<StoreFile> dismissedStore;
    std::optional<StoreFile> setsStore;
    const Senses senses;

    mutable std::mutex lock; // guards everything below
    std::condition_variable wake; // the runner's: a job was taken, or the queue closes
    std::function<void()> changed;
    std::vector<Job> list;
    bool running = false;
    std::optional<Job> taken; // handed to the runner's thread
    bool closing = false;
    std::set<std::string> stopping;
    std::map<std::string, Made> made;
    std::map<std::string, Stamp> seen;
    std::map<std::string, Stamp> seenMade;
    std::string madeResume; // the last kept master a pass looked at
    bool watching = false; // a pass is under way: one that overlaps it is left out
    std::set<std::string> endedInPass; // masters whose job ended while the pass was under way
    double quiet = 30;
    std::map<std::string, Stamp> skipped;
    std::map<std::string, Mark> dismissed;
    uint64_t dismissedVersion = 0;
    std::set<std::string> abandoned;
    std::map<std::string, SetPart> lastPart; // a making's lone file, as its set would list it
    std::string setsSaved = "[]";             // the sets under way as last written
    uint64_t setsVersion = 0;
    std::map<std::string, std::string> lastAsset;
    // A making's progress as last told: told again after a step of a hundredth, and no sooner
    // than `progressPause`, since no view shows it faster.
    struct Told {
        double fraction;
        std::chrono::steady_clock::time_point at;
    };
    std::chrono::milliseconds progressPause{250};
    std::map<std::string, Told> lastShown;

    std::mutex writing;           // orders the writes of dismissed.json and sets.json, never held with lock
    uint64_t dismissedWritten = 0; // guarded by writing
    uint64_t setsWritten = 0;      // guarded by writing

    std::thread runner; // last: started once everything else is there
};
