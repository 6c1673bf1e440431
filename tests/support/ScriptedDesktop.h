#pragma once
#include "app/Service/DesktopServices.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

// The user: answers every alert with the same button and every chooser with the same files, and
// remembers what it was shown; while an alert is open, whileOpen runs, as the event loop of a
// modal dialog would.
class ScriptedDesktop : public DesktopServices {
public:
    void activate() override { ++activations; }
    std::optional<size_t> alert(const Alert& alert) override {
        alerts.push_back(alert);
        ++openAlerts;
        mostOpen = std::max(mostOpen, openAlerts);
        if (whileOpen) std::exchange(whileOpen, {})();
        --openAlerts;
        return choice;
    }
    std::optional<std::vector<std::filesystem::path>> chooseFiles(const FileChoice& asked) override {
        choices.push_back(asked);
        return chosen;
    }
    void open(const std::string& address) override { opened.push_back(address); }
    void reveal(const std::vector<std::filesystem::path>& files) override { revealed.push_back(files); }
    void quit() override { ++quits; }

    size_t choice = 0;
    std::optional<std::vector<std::filesystem::path>> chosen; // none: the chooser is cancelled
    int activations = 0;
    std::vector<Alert> alerts;
    std::vector<FileChoice> choices;
    std::vector<std::string> opened;
    std::vector<std::vector<std::filesystem::path>> revealed;
    int quits = 0;
    std::function<void()> whileOpen;
    int openAlerts = 0;
    int mostOpen = 0;
};
