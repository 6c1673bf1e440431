#pragma once
#include "app/Service/DesktopServices.h"

#include <cstdio>
#include <string>

// Dialogs asked on the terminal, for the service without windows: the alert prints its texts and
// numbered buttons and reads one line. A number picks that button, an empty line the first, the
// end of the input (or an interruption) the last. An alert withdrawn says so on its own line.
// Without a display there is no file chooser, and what would open is named on the terminal.
class TerminalDesktop : public DesktopServices {
public:
    // input is read line by line; the alert gives up as soon as interrupt becomes readable.
    TerminalDesktop(int input, std::FILE* output, int interrupt = -1);

    void activate() override {}
    std::optional<size_t> alert(const Alert& alert) override;
    std::optional<std::vector<std::filesystem::path>> chooseFiles(const FileChoice&) override { return std::nullopt; }
    void open(const std::string& address) override;
    void reveal(const std::vector<std::filesystem::path>& files) override;
    void quit() override;

private:
    enum class Line { read, ended, withdrawn };
    Line readLine(std::string& line, std::optional<std::chrono::steady_clock::time_point> until);

    int input;
    std::FILE* output;
    int interrupt;
    std::string pending; // bytes read past the last line
};
