#pragma once
#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM end the event loop cleanly instead of killing the process mid-write.
// block() must run before any thread starts, so that every thread inherits the mask.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    static void block();

    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // Readable once a quit signal is pending: lets a blocking prompt give up in time.
    int descriptor() const { return fd; }

private:
    int fd;
    QSocketNotifier* notifier;
};
