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
      router(pairing, TrelkInfo::current().description(), [] { return Router::Assets{}; }),
      server(router) {
    pairedCount = pairing.count();
    QPointer<TrelkModel> model(this);
    // Called on the server's thread, which stops before the queue goes away.
    router.onPairRequest = [this](std::string id, std::string code, std::string origin) {
        queuePairAsk({std::move(id), std::move(code), std::move(origin)});
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

// No more asks wait than requests are kept pending, and the main thread is woken once for a
// flood of them, so a flood costs neither memory nor dialogs.
void TrelkModel::queuePairAsk(PairAsk ask) {
    const bool wasEmpty = pairAsks.with([&](std::deque<PairAsk>& asks) {
        asks.push_back(std::move(ask));
        if (asks.size() > Pairing::mostPending) asks.pop_front();
        return asks.size() == 1;
    });
    if (!wasEmpty) return;
    QPointer<TrelkModel> model(this);
    QMetaObject::invokeMethod(this, [model] {
        if (model) model->askToPair();
    }, Qt::QueuedConnection);
}

// One dialog at a time: a dialog's own event loop may come back here, and then leaves the rest
// to the loop below.
void TrelkModel::askToPair() {
    if (askingToPair) return;
    askingToPair = true;
    while (std::optional<PairAsk> next = nextPairAsk()) showPairingDialog(*next);
    askingToPair = false;
}

std::optional<TrelkModel::PairAsk> TrelkModel::nextPairAsk() {
    return pairAsks.with([](std::deque<PairAsk>& asks) -> std::optional<PairAsk> {
        if (asks.empty()) return std::nullopt;
        PairAsk next = std::move(asks.front());
        asks.pop_front();
        return next;
    });
}

void TrelkModel::showPairingDialog(const PairAsk& ask) {
    const std::optional<std::chrono::duration<double>> left = pairing.timeLeft(ask.id);
    if (!left) return; // answered, expired or dropped while it waited
    desktop.activate();
    const std::optional<size_t> chosen = desktop.alert(
        {"Allow VorlaneWeb to use your library?", "Code " + ask.code + " · check it matches the page\n" + ask.origin,
         {"Allow", "Don't Allow"},
         std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(*left)});
    if (!chosen) return; // withdrawn: the request expired while the dialog was open
    pairing.answer(ask.id, *chosen == 0 ? Pairing::Decision::allow : Pairing::Decision::deny);
    pairedCount = pairing.count();
    emit changed();
}
