#pragma once
#include "TrelkCore/Making/Ladder.h"

#include <cstdint>
#include <filesystem>
#include <functional>

// What the job queue makes renditions with; one engine in the service, others in tests.
// Both operations block the calling thread, which is never the interface's.
class LadderEngine {
public:
    using Progress = std::function<void(double fraction)>;
    using Cancelled = std::function<bool()>;

    virtual ~LadderEngine() = default;

    // Throws TrelkError, or passes the platform's own error on.
    virtual MasterInfo probe(const std::filesystem::path& master) = 0;
    // Writes every file of the plan into `into`, reporting progress from 0 to 0.99, and returns
    // the number of pictures written into each of them: they all get the same. Throws
    // TrelkError, or CancellationError once cancelled() says so.
    virtual int64_t make(const std::filesystem::path& master, const MasterInfo& info, const LadderPlan& plan,
                         const std::filesystem::path& into, const Progress& progress, const Cancelled& cancelled) = 0;
};
