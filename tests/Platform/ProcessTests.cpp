#include "TrelkCore/Platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <sstream>
#include <system_error>

namespace {

using Stream = Process::Stream;

Process::Exit run(const std::string& program, const std::vector<std::string>& arguments) {
    return Process::start(program, arguments, Stream::discard, Stream::discard).wait();
}

std::string outputOf(const std::string& program, const std::vector<std::string>& arguments) {
    Process process = Process::start(program, arguments, Stream::pipe, Stream::discard);
    std::string output = process.readOutput();
    EXPECT_TRUE(process.wait().succeeded()) << program;
    return output;
}

bool anyChildLeft() { return !(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD); }

TEST(Process, PassesArgumentsAsTheyAre) {
    EXPECT_EQ(
        outputOf("/usr/bin/printf", {"[%s]\n", "two words", "it's \"quoted\"", "-i", "-n x.mov", "", "$HOME *;|"}),
        "[two words]\n[it's \"quoted\"]\n[-i]\n[-n x.mov]\n[]\n[$HOME *;|]\n");
}

TEST(Process, TellsAnExitStatusFromASignal) {
    EXPECT_TRUE(run("/bin/true", {}).succeeded());
    const Process::Exit failed = run("/bin/false", {});
    EXPECT_EQ(failed.kind, Process::Exit::Kind::exited);
    EXPECT_EQ(failed.code, 1);
    EXPECT_FALSE(failed.succeeded());

    Process stopped = Process::start("/bin/sleep", {"100"}, Stream::discard, Stream::discard);
    stopped.terminate();
    const Process::Exit terminated = stopped.wait();
    EXPECT_EQ(terminated.kind, Process::Exit::Kind::signalled);
    EXPECT_EQ(terminated.code, SIGTERM);
    EXPECT_EQ(stopped.wait().code, SIGTERM); // the same answer again
    stopped.kill();                          // ended already: nothing to do

    Process killed = Process::start("/bin/sleep", {"100"}, Stream::discard, Stream::discard);
    killed.kill();
    EXPECT_EQ(killed.wait().code, SIGKILL);
}

TEST(Process, AProgramThatIsNotThereThrows) {
    EXPECT_THROW(Process::start("/nonexistent/ffmpeg", {}, Stream::pipe, Stream::pipe), std::system_error);
    EXPECT_THROW(Process::start("/dev/null", {}, Stream::pipe, Stream::pipe), std::system_error);
    EXPECT_FALSE(anyChildLeft());
}

TEST(Process, GoingAwayKillsAndReapsTheProgram) {
    { Process sleeper = Process::start("/bin/sleep", {"100"}, Stream::pipe, Stream::pipe); }
    EXPECT_FALSE(anyChildLeft());

    std::optional<Process> first(Process::start("/bin/sleep", {"100"}, Stream::discard, Stream::discard));
    Process moved(std::move(*first));
    first.reset(); // the moved-from object owns nothing
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), 0);
    moved.kill();
    EXPECT_EQ(moved.wait().code, SIGKILL);
}

TEST(Process, StandardInputIsTheNullDevice) {
    // With this process's input holding bytes, a child that inherited it would echo them.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "inherited", 9), 9);
    ::close(ends[1]);
    const int savedInput = ::dup(STDIN_FILENO);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    const std::string echoed = outputOf("/bin/cat", {});
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    EXPECT_EQ(echoed, "");
    EXPECT_EQ(outputOf("/usr/bin/readlink", {"/proc/self/fd/0"}), "/dev/null\n");
}

TEST(Process, StandardErrorHasItsOwnPipe) {
    Process process = Process::start("/bin/ls", {"/nonexistent"}, Stream::discard, Stream::pipe);
    EXPECT_EQ(process.output(), -1);
    std::string error;
    char piece[256];
    for (ssize_t count; (count = ::read(process.error(), piece, sizeof piece)) > 0;)
        error.append(piece, size_t(count));
    EXPECT_NE(error.find("/nonexistent"), std::string::npos) << error;
    EXPECT_FALSE(process.wait().succeeded());
}

TEST(Process, ChildrenStartWithCleanSignalsInAGroupOfTheirOwn) {
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
    const sighandler_t previousPipe = ::signal(SIGPIPE, SIG_IGN);
    const std::string signals = outputOf("/bin/grep", {"-E", "^Sig(Blk|Ign):", "/proc/self/status"});
    const std::string stat = outputOf("/bin/cat", {"/proc/self/stat"});
    ::signal(SIGPIPE, previousPipe);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);

    // Bit n - 1 stands for signal n. glibc's spawn leaves its own internal signals ignored.
    ASSERT_EQ(signals.substr(0, 8), "SigBlk:\t");
    ASSERT_EQ(signals.substr(25, 8), "SigIgn:\t");
    EXPECT_EQ(std::stoull(signals.substr(8, 16), nullptr, 16), 0u);
    const unsigned long long ignored = std::stoull(signals.substr(33, 16), nullptr, 16);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        EXPECT_EQ(ignored >> (signal - 1) & 1, 0u) << signal;
    // pid (name) state ppid pgrp …
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    char state;
    pid_t parent, group;
    fields >> state >> parent >> group;
    EXPECT_EQ(parent, ::getpid());
    EXPECT_EQ(group, std::stoi(stat));
}

} // namespace
