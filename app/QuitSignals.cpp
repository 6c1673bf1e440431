#include "app/QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>

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

QuitSignals::~QuitSignals() = default;

bool QuitSignals::happened() const {
    pollfd watched{fd.get(), POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN);
}

void QuitSignals::quitEventLoop(QCoreApplication& application) {
    notifier = std::make_unique<QSocketNotifier>(fd.get(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &application, [this] {
        notifier->setEnabled(false); // the signal stays pending: once is enough
        QCoreApplication::quit();
    });
}
