#include "app/Terminal/TerminalDesktop.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace {

// The alert reading the given input from a pipe; what it printed is kept in a memory stream.
class TerminalAlert : public testing::Test {
protected:
    std::optional<size_t> ask(const std::string& input, bool closeInput = true,
                              std::optional<std::chrono::steady_clock::time_point> until = std::nullopt) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], input.data(), input.size()), ssize_t(input.size()));
        if (closeInput) ::close(fds[1]);
        else writeEnd = fds[1];
        char* text = nullptr;
        size_t size = 0;
        std::FILE* output = open_memstream(&text, &size);
        TerminalDesktop desktop(fds[0], output, interrupt);
        std::optional<size_t> chosen =
            desktop.alert({"Allow VorlaneWeb to use your library?", "Code 0042", {"Allow", "Don't Allow"}, until});
        std::fclose(output);
        printed.assign(text, size);
        std::free(text);
        ::close(fds[0]);
        return chosen;
    }

    void TearDown() override {
        if (writeEnd >= 0) ::close(writeEnd);
    }

    std::string printed;
    int interrupt = -1;
    int writeEnd = -1;
};

TEST_F(TerminalAlert, PrintsTheTextsAndNumberedButtons) {
    ask("\n");
    EXPECT_EQ(printed.substr(0, printed.find("choose")),
              "Allow VorlaneWeb to use your library?\nCode 0042\n  1. Allow\n  2. Don't Allow\n");
}

TEST_F(TerminalAlert, NumberChoosesThatButton) {
    EXPECT_EQ(ask("2\n"), 1u);
    EXPECT_EQ(ask(" 1 \r\n"), 0u);
}

TEST_F(TerminalAlert, EmptyLineChoosesTheDefault) { EXPECT_EQ(ask("\n2\n"), 0u); }

TEST_F(TerminalAlert, EndOfInputChoosesTheLast) {
    EXPECT_EQ(ask(""), 1u);
    EXPECT_EQ(ask("1"), 0u) << "a last line without its line break still counts";
}

TEST_F(TerminalAlert, AsksAgainUntilTheAnswerNamesAButton) {
    EXPECT_EQ(ask("3\nyes\n0\n2\n"), 1u);
    EXPECT_NE(printed.find("no button 3"), std::string::npos);
    EXPECT_NE(printed.find("no button yes"), std::string::npos);
}

TEST_F(TerminalAlert, InterruptionGivesUpWithTheLast) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "!", 1), 1);
    interrupt = fds[0];
    EXPECT_EQ(ask("", false), 1u); // the input stays open: only the interruption ends the wait
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(TerminalAlert, AnAlertPastItsTimeIsWithdrawnUnanswered) {
    EXPECT_EQ(ask("", false, std::chrono::steady_clock::now() + std::chrono::milliseconds(30)), std::nullopt);
    EXPECT_TRUE(printed.ends_with("\nNo answer is needed any more.\n")) << printed;
    EXPECT_EQ(ask("2\n", false, std::chrono::steady_clock::now() + std::chrono::hours(1)), 1u) << "answered in time";
}

TEST_F(TerminalAlert, AlertWithoutButtonsHasOneDefault) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]);
    std::FILE* output = std::fopen("/dev/null", "w");
    TerminalDesktop desktop(fds[0], output);
    EXPECT_EQ(desktop.alert({"couldn't do it", "", {}}), 0u);
    std::fclose(output);
    ::close(fds[0]);
}

} // namespace
