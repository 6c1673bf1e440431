#pragma once
#include "TrelkCore/Platform/Files.h"

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// A program started for a test, with pipes on its standard input and output; killed and
// reaped when it goes away.
class Child {
public:
    // environment is added to (and overrides) this process's own.
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::map<std::string, std::string>& environment = {});
    ~Child();

    void write(const std::string& bytes);
    void closeInput() { input.reset(); }
    // The next line of standard output without its line break; none at its end.
    std::optional<std::string> readLine();
    // The rest of standard output.
    std::string readAll();
    void signal(int number);
    pid_t id() const { return pid; }
    // The exit status, or 128 + the signal that ended it.
    int wait();

private:
    pid_t pid = -1;
    Files::Descriptor input;
    Files::Descriptor output;
    std::string pending;
};

// Runs a program to its end and returns its standard output.
std::string runProgram(const std::string& program, const std::vector<std::string>& arguments);
