#pragma once
#include "TrelkCore/Error.h"
#include "TrelkCore/Making/LadderEngine.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// Probes every file as a small video and fails those whose name begins with "bad", counting the
// probes; every making reports 42.7 % and then waits until it is cancelled.
class HeldEngine : public LadderEngine {
public:
    MasterInfo probe(const std::filesystem::path& master) override {
        std::lock_guard guard(lock);
        const int count = ++probes[master.filename().string()];
        if (master.filename().string().starts_with("bad")) throw TrelkError("unreadable");
        MasterInfo info;
        info.w = 16 * count;
        info.h = 16;
        return info;
    }
    int64_t make(const std::filesystem::path&, const MasterInfo&, const LadderPlan&, const std::filesystem::path&,
                 const Progress& progress, const Cancelled& cancelled) override {
        progress(0.427);
        while (!cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        throw CancellationError();
    }
    int probesOf(const std::string& name) {
        std::lock_guard guard(lock);
        return probes[name];
    }

private:
    std::mutex lock;
    std::map<std::string, int> probes;
};
