#pragma once
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The few desktop services the application's parts share. Every call comes on the main thread;
// alert and chooseFiles return only once the user has answered.
class DesktopServices {
public:
    struct Alert {
        std::string message;
        std::string informative = {};     // shown below the message; may be empty
        std::vector<std::string> buttons = {}; // in order, the first the default; none: one "OK"
        // When set, the alert is withdrawn unanswered at that time.
        std::optional<std::chrono::steady_clock::time_point> until = std::nullopt;
    };
    // A chooser of several files, never folders.
    struct FileChoice {
        std::vector<std::string> extensions; // lower case, without the dot
        std::string confirm;                 // the confirm button's title
    };

    virtual ~DesktopServices() = default;
    // Brings the application in front of the user, even while another application is active.
    virtual void activate() = 0;
    // The index of the chosen button; none when the alert was withdrawn first.
    virtual std::optional<size_t> alert(const Alert& alert) = 0;
    // The chosen files in the chooser's order; none when cancelled.
    virtual std::optional<std::vector<std::filesystem::path>> chooseFiles(const FileChoice& choice) = 0;
    // A folder opens in the file browser, an https address in the web browser.
    virtual void open(const std::string& address) = 0;
    // The file browser shows the files selected.
    virtual void reveal(const std::vector<std::filesystem::path>& files) = 0;
    virtual void quit() = 0;
};
