#include "tests/support/Child.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <utility>
#include <cstring>
#include <stdexcept>

extern char** environ;

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    Files::Descriptor childInput(toChild[0]), childOutput(fromChild[1]);
    input = Files::Descriptor(toChild[1]);
    output = Files::Descriptor(fromChild[0]);

    std::map<std::string, std::string> all;
    for (char** entry = environ; *entry; ++entry) {
        std::string text(*entry);
        size_t equals = text.find('=');
        all[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) all[name] = value;
    std::vector<std::string> pairs;
    for (const auto& [name, value] : all) pairs.push_back(name + "=" + value);

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& pair : pairs) envp.push_back(pair.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childInput.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childOutput.get(), STDOUT_FILENO);
    int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
}

Child::~Child() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        wait();
    }
}

void Child::write(const std::string& bytes) {
    if (::write(input.get(), bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("write to the child failed");
}

std::optional<std::string> Child::readLine() {
    while (true) {
        if (size_t end = pending.find('\n'); end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        char bytes[4096];
        ssize_t count = Files::readSome(output.get(), bytes, sizeof bytes);
        if (count <= 0) return std::nullopt;
        pending.append(bytes, size_t(count));
    }
}

std::string Child::readAll() {
    std::string all = std::exchange(pending, {});
    char bytes[4096];
    ssize_t count;
    while ((count = Files::readSome(output.get(), bytes, sizeof bytes)) > 0) all.append(bytes, size_t(count));
    return all;
}

void Child::signal(int number) { ::kill(pid, number); }

int Child::wait() {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string runProgram(const std::string& program, const std::vector<std::string>& arguments) {
    Child child(program, arguments);
    child.closeInput();
    std::string all = child.readAll();
    child.wait();
    return all;
}
