#pragma once
// moc cannot parse the standard <concepts> that Version's ordering brings in, nor needs it.
#ifndef Q_MOC_RUN
#include "TrelkCore/UpdateFeed.h"
#include "TrelkCore/Version.h"
#endif

#include <QNetworkAccessManager>
#include <QObject>

#include <chrono>
#include <optional>
#include <string>
#include <tuple>

class DesktopServices;
class QNetworkReply;

// Tells the user when the download site announces a newer version than this one. Checks at
// construction, quietly, and whenever asked; its fields are read and written on the main thread.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::string feed;
        Version running;
        std::chrono::milliseconds timeout;
    };
    // The deployed feed, this program's own version, 15 seconds.
    static Setup standard();

    explicit UpdateChecker(DesktopServices& desktop, Setup setup = standard());

    // The newer version found by the last successful check.
    const std::optional<Version>& available() const { return newest; }
    bool checking() const { return checksRunning > 0; }
    // The feed's download address from the last successful check, newer or not.
    const std::optional<std::string>& downloadURL() const { return download; }
    const std::string& feed() const { return setup.feed; }

    // Fetches the feed; quietly, neither a failure nor "up to date" is shown. Checks run side by
    // side: each one that ends writes its result.
    void check(bool quietly);

signals:
    void changed();

private:
    void watch(QNetworkReply* reply, bool quietly);
    void finish(QNetworkReply* reply, bool quietly);
    // Runs change and emits changed() when a field is different afterwards.
    template <typename Change>
    void publish(Change&& change);
    auto fields() const { return std::tuple(newest, checking(), download); }

    DesktopServices& desktop;
    const Setup setup;
    std::optional<Version> newest;
    std::optional<std::string> download;
    int checksRunning = 0;
    QNetworkAccessManager network; // last: checks under way are dropped, unanswered, before the fields go
};
