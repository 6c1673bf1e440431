#pragma once
#include "TrelkCore/Platform/Files.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A child program with fixed arguments: no shell, standard input from the null device, standard
// output and error each to a pipe or to the null device. It never outlives its object.
class Process {
public:
    enum class Stream { pipe, discard };

    struct Exit {
        enum class Kind { exited, signalled };
        Kind kind;
        int code; // the exit status, or the signal's number

        bool succeeded() const { return kind == Kind::exited && code == 0; }
    };

    // Throws std::system_error when the program cannot be started.
    static Process start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         Stream output, Stream error);

    Process(Process&& other) noexcept;
    Process& operator=(Process&&) = delete;
    Process(const Process&) = delete;
    // Kills the program if it still runs and waits for it.
    ~Process();

    // Read ends of the pipes; -1 for a stream sent to the null device.
    int output() const { return outputPipe.get(); }
    int error() const { return errorPipe.get(); }
    // Everything the program writes on its standard output, until it closes it.
    std::string readOutput();

    // Waits for the program to end; the same answer on later calls.
    Exit wait();
    // Asks the program and what it started to stop (SIGTERM), if it still runs.
    void terminate();
    // Stops the program and what it started at once (SIGKILL), if it still runs.
    void kill();

private:
    Process(pid_t pid, Files::Descriptor output, Files::Descriptor error);

    pid_t pid;
    std::optional<Exit> ended;
    Files::Descriptor outputPipe;
    Files::Descriptor errorPipe;
};
