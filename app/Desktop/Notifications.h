#pragma once
#include "app/Window/JobNotices.h"

#include <QDBusConnection>
#include <QObject>

#include <vector>

class TrelkModel;

// Desktop notifications of made and failed work, through the freedesktop.org notification
// service. No service, or no session bus: nothing is shown and nothing waits.
class Notifications : public QObject {
public:
    explicit Notifications(QDBusConnection bus = QDBusConnection::sessionBus());

    // Follows the model's job list from now on; the jobs already ended are not told.
    void follow(const TrelkModel& model);
    // Sends the notices a new job list calls for.
    void update(const std::vector<Job>& jobs);

private:
    void send(const JobNotices::Notice& notice);

    QDBusConnection bus;
    JobNotices notices;
};
