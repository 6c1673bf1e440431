#pragma once
#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>

// A thread's or a program's CPU and disk priority, as the kernel tells it.
struct Levels {
    int nice = 0;
    int policy = 0;       // SCHED_OTHER
    bool lowDisk = false; // best-effort at the lowest level

    // From the text of /proc/…/stat.
    static Levels of(const std::string& stat, bool lowDisk);
    static Levels ofThread(pid_t process, pid_t thread);
    // Every thread of the process, by its id.
    static std::map<pid_t, Levels> ofThreads(pid_t process);
    // A program started by the calling thread, as it sees its own.
    static Levels ofProgram();
    // What the background's are for a process whose normal ones those are.
    static Levels background(const Levels& normal);

    bool operator==(const Levels&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Levels& levels);
