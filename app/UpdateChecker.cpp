#include "app/UpdateChecker.h"

#include "TrelkCore/Build.h"
#include "app/Service/DesktopServices.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// A feed is a few hundred bytes: a larger body is not one, and is never held whole.
constexpr qint64 largestFeed = 1 << 20;

// The request reached the server and it answered; its status is not ours to judge, the body is.
bool answered(const QNetworkReply& reply) {
    const QNetworkReply::NetworkError error = reply.error();
    const bool statusOnly = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
                            (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return error == QNetworkReply::NoError || statusOnly;
}

} // namespace

UpdateChecker::Setup UpdateChecker::standard() {
    return {std::string("https://") + Build::updateHost + "/downloads/trelk.json", TrelkInfo::current(),
            std::chrono::seconds(15)};
}

UpdateChecker::UpdateChecker(DesktopServices& desktop, Setup setup) : desktop(desktop), setup(std::move(setup)) {
    check(true);
}

void UpdateChecker::check(bool quietly) {
    QNetworkRequest request(QUrl(QString::fromStdString(setup.feed)));
    request.setTransferTimeout(int(setup.timeout.count()));
    publish([&] { ++checksRunning; });
    watch(network.get(request), quietly);
}

void UpdateChecker::watch(QNetworkReply* reply, bool quietly) {
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > largestFeed || total > largestFeed) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, quietly] { finish(reply, quietly); });
}

void UpdateChecker::finish(QNetworkReply* reply, bool quietly) {
    reply->deleteLater();
    std::optional<UpdateFeed> feed;
    if (answered(*reply) && reply->bytesAvailable() <= largestFeed)
        feed = UpdateFeed::decode(reply->readAll().toStdString());
    publish([&] {
        --checksRunning;
        if (!feed) return;
        newest = feed->newer(setup.running);
        download = feed->url;
    });
    // Shown last: while the alert is open this checker may go away with the application.
    if (quietly) return;
    if (!feed)
        desktop.alert({"Couldn't check for updates."});
    else if (!newest)
        desktop.alert({"vorlane Trelk is up to date."});
}

template <typename Change>
void UpdateChecker::publish(Change&& change) {
    const auto before = fields();
    change();
    if (fields() != before) emit changed();
}
