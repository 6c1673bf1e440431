#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

// Holds whoever reaches a held step until the test lets it go on, so that a test can make one
// interleaving of two threads happen every time.
class StepGate {
public:
    void hold(const std::string& step) {
        std::lock_guard guard(lock);
        held.insert(step);
        arrived.erase(step);
    }
    // Called by the side being held; returns at once for a step nobody holds.
    void reached(std::string_view step) {
        std::unique_lock guard(lock);
        const std::string name(step);
        if (!held.contains(name)) return;
        arrived.insert(name);
        changed.notify_all();
        changed.wait(guard, [&] { return !held.contains(name); });
    }
    // Whether the step was reached within a minute.
    bool awaited(const std::string& step) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::minutes(1), [&] { return arrived.contains(step); });
    }
    void release(const std::string& step) {
        std::lock_guard guard(lock);
        held.erase(step);
        changed.notify_all();
    }

private:
    std::mutex lock; // guards the two below
    std::set<std::string> held;
    std::set<std::string> arrived;
    std::condition_variable changed;
};
