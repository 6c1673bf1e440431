#pragma once
#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Platform/TreeChanges.h"
#include "TrelkCore/Service/Pairing.h"
#include "TrelkCore/Service/Router.h"
#include "TrelkCore/Service/Server.h"
#include "TrelkCore/Service/Uploads.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

class Desktop;

// The service core: builds the stores, the job queue and the server at start and publishes
// their state. Its fields are read and written on the main thread only.
class TrelkModel : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::filesystem::path serviceFolder;
        std::vector<uint16_t> ports;
        std::filesystem::path library;
    };
    // The user's own service folder, library folder and the service's ports.
    static Setup standard();

    explicit TrelkModel(Desktop& desktop, Setup setup = standard());
    ~TrelkModel() override;

    std::optional<uint16_t> port() const { return listeningPort; }
    int paired() const { return pairedCount; }
    const std::vector<Asset>& assets() const { return publishedAssets; }
    const std::vector<Job>& jobs() const { return publishedJobs; }
    int64_t mastersBytes() const { return keptBytes; }
    const std::filesystem::path& folder() const { return library; }

    std::string status() const;
    std::string librarySummary() const;
    // The jobs not done, in queue order.
    std::vector<Job> openJobs() const;

    // One refresh pass off the main thread: the watch, the scan, the kept masters.
    void rescan();

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
    // What a pass found; none when the library, "Masters" with it, did not change.
    struct Pass {
        std::shared_ptr<const std::vector<Asset>> assets;
        std::optional<int64_t> mastersBytes;
    };
    void queuePairAsk(PairAsk ask);
    void askToPair();
    std::optional<PairAsk> nextPairAsk();
    void showPairingDialog(const PairAsk& ask);
    void updateJobs(std::vector<Job> list);
    Pass refresh();
    void publish(const Pass& pass);

    Desktop& desktop;
    std::optional<uint16_t> listeningPort;
    int pairedCount = 0;
    std::vector<Asset> publishedAssets;
    std::vector<Job> publishedJobs;
    int64_t keptBytes = 0;
    std::set<std::string> done;
    Pairing pairing;
    const std::filesystem::path library;
    AVEngine engine;
    Jobs queue;
    Uploads uploads; // called by the server's threads and the refresh pass
    // The asset list as the server's thread sees it.
    LockedBox<Router::Assets> snapshot{std::make_shared<const std::vector<Asset>>()};
    TreeChanges libraryChanges; // used by one pass at a time
    // Filled on the server's thread, emptied by the one pairing dialog at a time.
    LockedBox<std::deque<PairAsk>> pairAsks;
    bool askingToPair = false;
    bool passRunning = false; // a pass is under way: a rescan asked meanwhile runs once it ends
    bool passWanted = false;
    Router router;
    QTimer timer;
    QThreadPool passes; // waits for the pass under way before what it uses goes
    Server server;      // last, so that it stops before what it calls goes away
};
