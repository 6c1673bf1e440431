#include "TrelkCore/Platform/SerialQueue.h"

SerialQueue::SerialQueue() : thread([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(lock);
        closing = true;
    }
    wake.notify_one();
    thread.join();
}

void SerialQueue::post(Task task) {
    {
        std::lock_guard guard(lock);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void SerialQueue::run() {
    std::unique_lock guard(lock);
    while (true) {
        wake.wait(guard, [this] { return closing || !tasks.empty(); });
        if (tasks.empty()) return;
        Task task = std::move(tasks.front());
        tasks.pop_front();
        guard.unlock();
        task();
        task = nullptr; // what it held goes here, not under the lock
        guard.lock();
    }
}
