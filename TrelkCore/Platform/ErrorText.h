#pragma once
#include <mutex>
#include <string>
#include <thread>

// Gathers the first part of what a child program writes on its standard error, on a thread of
// its own, so that the child never blocks on a full pipe and a flood costs no memory.
class ErrorText {
public:
    static constexpr size_t kept = 8192;

    // Reads fd until it closes; fd must stay open until then.
    explicit ErrorText(int fd);
    // Waits for the reader, which ends once the child's end of the pipe is closed.
    ~ErrorText();
    ErrorText(const ErrorText&) = delete;
    ErrorText& operator=(const ErrorText&) = delete;

    // Waits until the pipe has closed.
    void finish();
    // The last non-empty line, with bytes that are not UTF-8 replaced; empty when there is none.
    std::string lastLine() const;

private:
    void collect(int fd);

    mutable std::mutex lock; // guards text
    std::string text;
    std::thread reader;
};
