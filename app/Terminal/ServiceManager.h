#pragma once
#include "app/Service/TrelkModel.h"

#include <QObject>

#include <string>

// What `serve` tells the service manager that started it (systemd's Type=notify): ready once
// the listener has tried its ports, the status line as it changes, and stopping as it ends.
// Started any other way, nothing is sent.
class ServiceManager : public QObject {
public:
    explicit ServiceManager(const TrelkModel& model);
    ~ServiceManager() override;

private:
    void update();

    const TrelkModel& model;
    bool ready = false;
    std::string lastStatus;
};
