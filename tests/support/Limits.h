#pragma once
#include <signal.h>
#include <sys/resource.h>

// Lowers this process's largest file size for a scope, so that writes fail part way as on a full
// disk (root ignores permissions, so they can't be used for that).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) : previousHandler(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit lowered = previous;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous{};
    sighandler_t previousHandler;
};
