#include "app/Desktop/Notifications.h"

#include "app/Service/TrelkModel.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QString>
#include <QStringList>
#include <QVariantMap>

Notifications::Notifications(QDBusConnection bus) : bus(std::move(bus)) {}

void Notifications::follow(const TrelkModel& model) {
    update(model.jobs());
    connect(&model, &TrelkModel::changed, this, [this, &model] { update(model.jobs()); });
}

void Notifications::update(const std::vector<Job>& jobs) {
    for (const JobNotices::Notice& notice : notices.after(jobs)) send(notice);
}

void Notifications::send(const JobNotices::Notice& notice) {
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    // Bodies may be read as markup: a file name's "&" or "<" must stay text.
    const QString body = QString::fromStdString(notice.body).toHtmlEscaped();
    call << QString("vorlane Trelk") << uint(0) << QString("vorlane-trelk") << QString::fromStdString(notice.title)
         << body << QStringList() << QVariantMap() << int(-1);
    // Never waits: the answer, or the error of a bus without the service, is dropped.
    bus.asyncCall(call);
}
