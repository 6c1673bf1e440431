#include "tests/support/Levels.h"

#include "TrelkCore/Platform/Priority.h"
#include "TrelkCore/Platform/Process.h"

#include <linux/ioprio.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

Levels Levels::of(const std::string& stat, bool lowDisk) {
    std::istringstream fields(stat.substr(stat.rfind(')') + 2)); // the name may hold blanks
    std::vector<std::string> field{"pid", "name"};
    for (std::string each; fields >> each;) field.push_back(each);
    return {std::stoi(field.at(18)), std::stoi(field.at(40)), lowDisk};
}

Levels Levels::ofThread(pid_t process, pid_t thread) {
    std::ifstream file("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread) + "/stat");
    const long disk = syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, thread);
    return of(std::string(std::istreambuf_iterator<char>(file), {}),
              disk == IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, Priority::backgroundDiskLevel));
}

std::map<pid_t, Levels> Levels::ofThreads(pid_t process) {
    std::map<pid_t, Levels> threads;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/task")) {
        const pid_t thread = std::stoi(task.path().filename().string());
        threads[thread] = ofThread(process, thread);
    }
    return threads;
}

Levels Levels::ofProgram() {
    Process stat = Process::start("/bin/cat", {"/proc/self/stat"}, Process::Stream::pipe, Process::Stream::discard);
    Process disk = Process::start("/usr/bin/ionice", {}, Process::Stream::pipe, Process::Stream::discard);
    return of(stat.readOutput(),
              disk.readOutput() == "best-effort: prio " + std::to_string(Priority::backgroundDiskLevel) + "\n");
}

Levels Levels::background(const Levels& normal) {
    return {std::max(normal.nice, Priority::backgroundNice), SCHED_BATCH, true};
}

std::ostream& operator<<(std::ostream& out, const Levels& levels) {
    return out << "nice " << levels.nice << ", policy " << levels.policy << (levels.lowDisk ? ", low disk" : "");
}
