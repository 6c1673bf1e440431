#include "app/Terminal/ServiceManager.h"

#include <systemd/sd-daemon.h>

ServiceManager::ServiceManager(const TrelkModel& model) : model(model) {
    connect(&model, &TrelkModel::serverReady, this, [this] {
        ready = true;
        update();
    });
    connect(&model, &TrelkModel::changed, this, &ServiceManager::update);
}

ServiceManager::~ServiceManager() { sd_notify(0, "STOPPING=1"); }

void ServiceManager::update() {
    if (!ready || model.status() == lastStatus) return;
    const bool first = lastStatus.empty();
    lastStatus = model.status();
    sd_notify(0, ((first ? "READY=1\nSTATUS=" : "STATUS=") + lastStatus).c_str());
}
