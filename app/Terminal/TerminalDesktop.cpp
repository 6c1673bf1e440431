#include "app/Terminal/TerminalDesktop.h"

#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Text.h"

#include <QCoreApplication>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

TerminalDesktop::TerminalDesktop(int input, std::FILE* output, int interrupt)
    : input(input), output(output), interrupt(interrupt) {}

namespace {

// What poll waits: until the time, rounded up so that it never wakes just before it; none is -1.
int millisecondsUntil(std::optional<std::chrono::steady_clock::time_point> until) {
    if (!until) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - std::chrono::steady_clock::now());
    return int(std::clamp<int64_t>(left.count(), 0, 1'000'000));
}

} // namespace

std::optional<size_t> TerminalDesktop::alert(const Alert& alert) {
    const std::vector<std::string> buttons = alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    std::fprintf(output, "%s\n", alert.message.c_str());
    if (!alert.informative.empty()) std::fprintf(output, "%s\n", alert.informative.c_str());
    for (size_t i = 0; i < buttons.size(); ++i) std::fprintf(output, "  %zu. %s\n", i + 1, buttons[i].c_str());
    while (true) {
        std::fprintf(output, "choose 1–%zu [1]: ", buttons.size());
        std::fflush(output);
        std::string line;
        const Line read = readLine(line, alert.until);
        if (read != Line::read) {
            std::fprintf(output, read == Line::withdrawn ? "\nNo answer is needed any more.\n" : "\n");
            std::fflush(output);
            if (read == Line::withdrawn) return std::nullopt;
            return buttons.size() - 1;
        }
        std::string_view answer = Text::trim(line, " \t\r");
        if (answer.empty()) return 0;
        std::optional<int64_t> number = Text::parseInteger(answer);
        if (number && *number >= 1 && *number <= int64_t(buttons.size())) return size_t(*number - 1);
        std::fprintf(output, "no button %.*s\n", int(answer.size()), answer.data());
    }
}

void TerminalDesktop::open(const std::string& address) {
    std::fprintf(output, "open %s\n", address.c_str());
    std::fflush(output);
}

void TerminalDesktop::reveal(const std::vector<std::filesystem::path>& files) {
    for (const std::filesystem::path& file : files) std::fprintf(output, "see %s\n", file.c_str());
    std::fflush(output);
}

void TerminalDesktop::quit() {
    QCoreApplication::quit();
}

TerminalDesktop::Line TerminalDesktop::readLine(std::string& line,
                                                std::optional<std::chrono::steady_clock::time_point> until) {
    while (true) {
        if (size_t end = pending.find('\n'); end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return Line::read;
        }
        pollfd watched[2] = {{input, POLLIN, 0}, {interrupt, POLLIN, 0}};
        const int ready = ::poll(watched, interrupt >= 0 ? 2 : 1, millisecondsUntil(until));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Line::ended;
        }
        if (ready == 0) return Line::withdrawn;
        if (interrupt >= 0 && (watched[1].revents & POLLIN)) return Line::ended;
        char bytes[4096];
        ssize_t count = Files::readSome(input, bytes, sizeof bytes);
        if (count <= 0) {
            if (pending.empty()) return Line::ended;
            line = std::exchange(pending, {}); // a last line without its line break
            return Line::read;
        }
        pending.append(bytes, size_t(count));
    }
}
