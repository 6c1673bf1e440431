#pragma once
#include "TrelkCore/Service/Pairing.h"
#include "TrelkCore/Service/Router.h"
#include "TrelkCore/Error.h"
#include "TrelkCore/Service/Server.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class Desktop;

// The service core: builds the stores and the server at start and publishes their state.
// Its fields are read and written on the main thread only.
class TrelkModel : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::filesystem::path serviceFolder;
        std::vector<uint16_t> ports;
    };
    // The user's own service folder and the service's ports.
    static Setup standard();

    explicit TrelkModel(Desktop& desktop, Setup setup = standard());
    ~TrelkModel() override;

    std::optional<uint16_t> port() const { return listeningPort; }
    int paired() const { return pairedCount; }
    std::string status() const;

signals:
    // Once, when the listener is up or no port could be opened.
    void serverReady();
    void changed();

private:
    struct PairAsk {
        std::string id;
        std::string code;
        std::string origin;
    };
    void queuePairAsk(PairAsk ask);
    void askToPair();
    std::optional<PairAsk> nextPairAsk();
    void showPairingDialog(const PairAsk& ask);

    Desktop& desktop;
    std::optional<uint16_t> listeningPort;
    int pairedCount = 0;
    Pairing pairing;
    // Filled on the server's thread, emptied by the one pairing dialog at a time.
    LockedBox<std::deque<PairAsk>> pairAsks;
    bool askingToPair = false;
    Router router;
    Server server; // last, so that it stops before what it calls goes away
};
