#pragma once
#include <exception>
#include <mutex>
#include <string>
#include <utility>

// A failure the user sees: its message is the whole description.
struct TrelkError : std::exception {
    std::string message;

    explicit TrelkError(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
};

// A making that was stopped on request; never shown as a failure.
struct CancellationError : std::exception {
    const char* what() const noexcept override { return "cancelled"; }
};

// One value, read and written only under its lock.
template <typename T>
class LockedBox {
public:
    LockedBox() = default;
    explicit LockedBox(T value) : value(std::move(value)) {}

    T get() const {
        std::lock_guard guard(lock);
        return value;
    }

    void set(T newValue) {
        std::lock_guard guard(lock);
        value = std::move(newValue);
    }

    // Runs change(value) under the lock and returns what it returns.
    template <typename Change>
    auto with(Change&& change) {
        std::lock_guard guard(lock);
        return change(value);
    }

private:
    mutable std::mutex lock; // guards value
    T value{};
};
