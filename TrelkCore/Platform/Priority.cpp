#include "TrelkCore/Platform/Priority.h"

#include <linux/ioprio.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

void Priority::background() {
    // Linux keeps these per thread: with a thread's id they change that thread alone.
    const pid_t thread = gettid();
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, std::max(nice, backgroundNice));
    // Batch threads are taken for CPU-bound: their wake-ups never cut in on an interactive one.
    const sched_param none{};
    if (sched_getscheduler(thread) == SCHED_OTHER) sched_setscheduler(thread, SCHED_BATCH, &none);
    const long disk = syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, thread);
    if (disk >= 0 && IOPRIO_PRIO_CLASS(disk) != IOPRIO_CLASS_IDLE)
        syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, thread, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, backgroundDiskLevel));
}
