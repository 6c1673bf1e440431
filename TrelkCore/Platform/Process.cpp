#include "TrelkCore/Platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace {

// posix_spawn's attributes and file actions, released however start ends.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;

    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

std::pair<Files::Descriptor, Files::Descriptor> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    return {Files::Descriptor(ends[0]), Files::Descriptor(ends[1])};
}

// Connects one of the child's streams to a new pipe, or to the null device; returns the read end.
Files::Descriptor streamTo(SpawnSetup& setup, int stream, Process::Stream how, std::vector<Files::Descriptor>& keep) {
    if (how == Process::Stream::discard) {
        posix_spawn_file_actions_addopen(&setup.actions, stream, "/dev/null", O_WRONLY, 0);
        return Files::Descriptor();
    }
    auto [readEnd, writeEnd] = makePipe();
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), stream);
    keep.push_back(std::move(writeEnd)); // closed in the parent once the child has its copy
    return std::move(readEnd);
}

// The child starts with every signal at its default and none blocked, in a process group of its
// own: the service blocks SIGINT and SIGTERM for itself, and a Ctrl-C on the terminal is the
// service's to handle, which then stops its children.
void resetSignals(SpawnSetup& setup) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
}

} // namespace

Process Process::start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       Stream output, Stream error) {
    SpawnSetup setup;
    resetSignals(setup);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<Files::Descriptor> writeEnds;
    Files::Descriptor outputPipe = streamTo(setup, STDOUT_FILENO, output, writeEnds);
    Files::Descriptor errorPipe = streamTo(setup, STDERR_FILENO, error, writeEnds);

    const std::string programText = program.string();
    std::vector<char*> argv{const_cast<char*>(programText.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int failed = posix_spawn(&pid, programText.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (failed != 0) throw std::system_error(failed, std::generic_category(), "start " + programText);
    return Process(pid, std::move(outputPipe), std::move(errorPipe));
}

Process::Process(pid_t pid, Files::Descriptor output, Files::Descriptor error)
    : pid(pid), outputPipe(std::move(output)), errorPipe(std::move(error)) {}

Process::Process(Process&& other) noexcept
    : pid(std::exchange(other.pid, -1)), ended(other.ended), outputPipe(std::move(other.outputPipe)),
      errorPipe(std::move(other.errorPipe)) {}

Process::~Process() {
    if (pid <= 0 || ended) return;
    kill();
    wait(); // reaps it, so that no zombie is left either
}

std::string Process::readOutput() {
    std::string all;
    char piece[65536];
    while (true) {
        ssize_t count = Files::readSome(outputPipe.get(), piece, sizeof piece);
        if (count <= 0) return all;
        all.append(piece, size_t(count));
    }
}

Process::Exit Process::wait() {
    if (ended) return *ended;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            ended = Exit{Exit::Kind::signalled, SIGKILL}; // not our child any more: count it as gone
            return *ended;
        }
    }
    ended = WIFEXITED(status) ? Exit{Exit::Kind::exited, WEXITSTATUS(status)}
                              : Exit{Exit::Kind::signalled, WTERMSIG(status)};
    return *ended;
}

// The whole process group: whatever the program started itself goes too, pipes and all.
void Process::terminate() {
    if (pid > 0 && !ended) ::kill(-pid, SIGTERM);
}

void Process::kill() {
    if (pid > 0 && !ended) ::kill(-pid, SIGKILL);
}
