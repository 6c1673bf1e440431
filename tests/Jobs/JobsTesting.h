#pragma once
#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Making/AVEngine.h"
#include "tests/support/Eventually.h"
#include "tests/support/StepGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

// Makes through the real engine; a test may hold each making at its start ("make"), or have it
// wait for a cancel.
class TestEngine : public LadderEngine {
public:
    MasterInfo probe(const std::filesystem::path& master) override { return real.probe(master); }
    int64_t make(const std::filesystem::path& master, const MasterInfo& info, const LadderPlan& plan,
                 const std::filesystem::path& into, const Progress& progress, const Cancelled& cancelled) override {
        ++makes;
        lastInto = into;
        gate.reached("make");
        for (double fraction : fractions) progress(fraction);
        if (holding) {
            while (!cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            throw CancellationError();
        }
        return real.make(master, info, plan, into, progress, cancelled);
    }

    AVEngine real;
    std::atomic<bool> holding = false; // every making waits until it is cancelled
    std::vector<double> fractions;     // reported before the making
    std::atomic<int> makes = 0;
    StepGate gate;
    std::filesystem::path lastInto; // the folder the last making wrote in; read once the queue is idle
};

inline Job jobWithID(const Jobs& jobs, const std::optional<std::string>& id) {
    for (const Job& job : jobs.jobs())
        if (job.id == id) return job;
    ADD_FAILURE() << "no job " << id.value_or("(none)");
    return {};
}

inline std::string stateOf(const Job& job) {
    return std::visit(
        [](const auto& state) -> std::string {
            using State = std::decay_t<decltype(state)>;
            if constexpr (std::is_same_v<State, Job::Queued>) return "queued";
            else if constexpr (std::is_same_v<State, Job::Making>) return "making";
            else if constexpr (std::is_same_v<State, Job::Done>) return "done";
            else if constexpr (std::is_same_v<State, Job::Failed>) return "failed: " + state.message;
            else return "cancelled";
        },
        job.state);
}
