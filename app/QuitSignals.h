#pragma once
#include "TrelkCore/Platform/Files.h"

#include <memory>
#include <thread>

class QCoreApplication;
class QSocketNotifier;

// SIGINT and SIGTERM end a command cleanly instead of killing the process mid-write. block()
// runs before any thread starts, so every thread inherits the mask and the signals only ever
// arrive on this signalfd. It is never read: once a quit signal is pending it stays readable, so
// every part of a command that looks (an event loop, a prompt, a making's cancel check, a thread
// in poll()) learns of the same quit.
class QuitSignals {
public:
    static void block();

    // Throws std::system_error.
    QuitSignals();
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // Readable from the first quit signal on.
    int descriptor() const { return fd.get(); }
    // Whether a quit signal has arrived; never blocks.
    bool happened() const;
    // From now on a quit signal quits application's event loop; the application outlives this.
    void quitEventLoop(QCoreApplication& application);
    // For commands that write nothing: from now on a quit signal ends the process as it would
    // have without the mask, whatever the command is waiting for.
    void endProcessOnQuit();

private:
    Files::Descriptor fd;
    std::unique_ptr<QSocketNotifier> notifier; // after fd, so that it goes first
    Files::Descriptor stopWatching;
    std::thread watcher;
};
