#include "app/Desktop/Notifications.h"

#include "tests/support/Child.h"
#include "tests/support/EventLoop.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace {

// The desktop's notification service as the bus sees it: every Notify is kept and answered.
class NotificationService : public QDBusVirtualObject {
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != "Notify") return false;
        calls.push_back(message.arguments());
        return connection.send(message.createReply(QVariant(uint(calls.size()))));
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<QList<QVariant>> calls;
};

// A private session bus of the test's own, with a sender on it.
class NotificationsTest : public testing::Test {
protected:
    ~NotificationsTest() override {
        QDBusConnection::disconnectFromBus("service");
        QDBusConnection::disconnectFromBus("sender");
    }

    void startService() {
        QDBusConnection bus = QDBusConnection::connectToBus(address, "service");
        ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/Notifications", &service));
        ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    }

    static Job made(const std::string& name, std::optional<int> index = {}) {
        Job job;
        job.id = name;
        job.master = "/drop/" + name + ".mov";
        job.state = Job::Done{};
        job.part = SetPart{.dir = name, .file = name + ".mp4", .w = 0, .h = 0, .duration = 0};
        if (index) job.set = "show", job.batch = "1234abcd", job.setIndex = index;
        return job;
    }

    EventLoop loop;
    Child daemon{TRELK_DBUS_DAEMON, {"--session", "--print-address", "--nofork"}};
    QString address = QString::fromStdString(daemon.readLine().value_or(""));
    Notifications notifications{QDBusConnection::connectToBus(address, "sender")};
    NotificationService service;
};

TEST_F(NotificationsTest, OneNotifyPerSetOrLoneJobWithTheApplicationsNameAndIcon) {
    startService();
    notifications.update({});
    notifications.update({made("show_0", 0), made("show_1", 1)});
    notifications.update({made("show_0", 0), made("show_1", 1), made("R&D")});
    // The lone job's notice follows the set's: a second one for the set would stand between.
    ASSERT_TRUE(EventLoop::runUntil([&] { return service.calls.size() >= 2; }));
    const QList<QVariant> set = service.calls[0];
    ASSERT_EQ(set.size(), 8);
    EXPECT_EQ(set[0].toString() + "|" + set[2].toString(), "vorlane Trelk|vorlane-trelk");
    EXPECT_EQ(set[3].toString() + "|" + set[4].toString(), "Made · show (2 parts)|show_0, show_1");
    EXPECT_EQ(service.calls[1][3].toString(), "Made · R&D.mov");
    EXPECT_EQ(service.calls[1][4].toString(), "R&amp;D") << "the body is markup to some desktops";
}

TEST_F(NotificationsTest, WithoutTheServiceOrTheBusNothingIsShownAndNothingWaits) {
    notifications.update({});
    notifications.update({made("lost")}); // nobody on the bus takes it
    // A round trip on the same connection: the daemon has had the notice before the service comes.
    EXPECT_FALSE(QDBusConnection("sender").interface()->isServiceRegistered("org.freedesktop.Notifications"));
    Notifications nowhere(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere"));
    nowhere.update({});
    nowhere.update({made("lost")});

    startService();
    notifications.update({made("lost"), made("seen")});
    ASSERT_TRUE(EventLoop::runUntil([&] { return !service.calls.empty(); }));
    EXPECT_EQ(service.calls.front()[3].toString(), "Made · seen.mov");
    QDBusConnection::disconnectFromBus("nowhere");
}

} // namespace
