#pragma once
#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// The Qt application of a test, and its event loop run until something holds.
template <typename Application>
class BasicEventLoop {
public:
    // False after ten seconds without it.
    static bool runUntil(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > 10000) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

private:
    int argc = 1;
    char name[8] = "trelk";
    char* argv[2] = {name, nullptr};
    Application application{argc, argv};
};

using EventLoop = BasicEventLoop<QCoreApplication>;
