#include "app/QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

sigset_t quitSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void QuitSignals::block() {
    sigset_t set = quitSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitSignals::QuitSignals() {
    sigset_t set = quitSet();
    fd = Files::Descriptor(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd) throw std::system_error(errno, std::generic_category(), "signalfd");
}

QuitSignals::~QuitSignals() {
    if (!watcher.joinable()) return;
    const uint64_t one = 1;
    (void)!::write(stopWatching.get(), &one, sizeof one);
    watcher.join();
}

bool QuitSignals::happened() const {
    pollfd watched{fd.get(), POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN);
}

void QuitSignals::endProcessOnQuit() {
    stopWatching = Files::Descriptor(::eventfd(0, EFD_CLOEXEC));
    if (!stopWatching) throw std::system_error(errno, std::generic_category(), "eventfd");
    watcher = std::thread([this] {
        pollfd watched[2] = {{fd.get(), POLLIN, 0}, {stopWatching.get(), POLLIN, 0}};
        while (::poll(watched, 2, -1) < 0 && errno == EINTR) {}
        if (!(watched[0].revents & POLLIN)) return;
        // The pending signal is delivered to this thread as soon as it may be, and ends the process.
        sigset_t set = quitSet();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    });
}

void QuitSignals::quitEventLoop(QCoreApplication& application) {
    notifier = std::make_unique<QSocketNotifier>(fd.get(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &application, [this] {
        notifier->setEnabled(false); // the signal stays pending: once is enough
        QCoreApplication::quit();
    });
}
