#pragma once
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The few desktop services the application's parts share.
class Desktop {
public:
    struct Alert {
        std::string message;
        std::string informative;          // shown below the message; may be empty
        std::vector<std::string> buttons; // in order, the first the default; none: one "OK"
        // When set, the alert is withdrawn unanswered at that time.
        std::optional<std::chrono::steady_clock::time_point> until = std::nullopt;
    };

    virtual ~Desktop() = default;
    // Brings the application in front of the user.
    virtual void activate() = 0;
    // Returns once the user has answered, with the index of the chosen button; none when the
    // alert was withdrawn first.
    virtual std::optional<size_t> alert(const Alert& alert) = 0;
};
