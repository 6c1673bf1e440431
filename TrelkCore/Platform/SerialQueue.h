#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Runs tasks one after another, in the order they were given, on a thread of its own: work that
// may wait on a disk, kept off a thread that must stay responsive.
class SerialQueue {
public:
    using Task = std::move_only_function<void()>;

    SerialQueue();
    // Runs every task already given, then joins the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Any thread. The task must not throw.
    void post(Task task);

private:
    void run();

    std::mutex lock;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool closing = false;
    std::thread thread; // last: starts once the rest is ready
};
