#include "app/TrelkModel.h"

#include "app/Desktop.h"

#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Version.h"

#include <QMetaObject>
#include <QPointer>

TrelkModel::Setup TrelkModel::standard() {
    return {Files::dataHome() / "vorlane Trelk", {Server::ports.begin(), Server::ports.end()}};
}

TrelkModel::TrelkModel(Desktop& desktop, Setup setup)
    : desktop(desktop),
      pairing(setup.serviceFolder / "tokens.json"),
      router(pairing, TrelkInfo::current().description()),
      server(router) {
    pairedCount = pairing.count();
    QPointer<TrelkModel> model(this);
    // Called on the server's thread; the dialog belongs to the main thread.
    router.onPairRequest = [model](std::string id, std::string code, std::string origin) {
        QMetaObject::invokeMethod(model, [model, id, code, origin] {
            if (model) model->askToPair(id, code, origin);
        }, Qt::QueuedConnection);
    };
    server.start(setup.ports, [model](std::optional<uint16_t> port) {
        QMetaObject::invokeMethod(model, [model, port] {
            if (!model) return;
            model->listeningPort = port;
            emit model->changed();
            emit model->serverReady();
        }, Qt::QueuedConnection);
    });
}

// The server goes first (it is the last member) and joins its thread, so no callback is left.
TrelkModel::~TrelkModel() = default;

std::string TrelkModel::status() const {
    if (!listeningPort) return "Trelk off · ports 47615–47617 are taken";
    if (pairedCount == 0) return "Not linked · open VorlaneWeb in Chrome to pair";
    return "Linked · " + std::to_string(pairedCount) + " browser" + (pairedCount == 1 ? "" : "s");
}

void TrelkModel::askToPair(const std::string& id, const std::string& code, const std::string& origin) {
    desktop.activate();
    size_t chosen = desktop.alert({"Allow VorlaneWeb to use your library?",
                                   "Code " + code + " · check it matches the page\n" + origin,
                                   {"Allow", "Don't Allow"}});
    pairing.answer(id, chosen == 0 ? Pairing::Decision::allow : Pairing::Decision::deny);
    pairedCount = pairing.count();
    emit changed();
}
