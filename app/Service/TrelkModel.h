#pragma once
#include "app/Service/PairingPrompt.h"
#include "app/Service/ServiceSetup.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Platform/TreeChanges.h"
#include "TrelkCore/Projects/Projects.h"
#include "TrelkCore/Service/Pairing.h"
#include "TrelkCore/Service/Router.h"
#include "TrelkCore/Service/Server.h"
#include "TrelkCore/Service/Uploads.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class DesktopServices;

// The service core: builds the stores, the job queue and the server at start and publishes
// their state. Its fields are read and written, and its operations called, on the main thread
// only. The windows' own state lives in WindowModel, which follows this one's signals.
class TrelkModel : public QObject {
    Q_OBJECT
public:
    // The stores the windows change directly.
    struct Stores {
        Jobs& queue;
        Projects& projects;
    };

    explicit TrelkModel(DesktopServices& desktop, ServiceSetup setup = ServiceSetup::standard());
    ~TrelkModel() override;

    std::optional<uint16_t> port() const { return listeningPort; }
    int paired() const { return pairedCount; }
    const std::vector<Asset>& assets() const { return publishedAssets; }
    // The library's files the last scan left out, their paths not being UTF-8.
    const std::vector<std::string>& leftOutOfLibrary() const { return publishedLeftOut; }
    const std::vector<Job>& jobs() const { return publishedJobs; }
    // The projects the browser posted, most recently seen first.
    const std::vector<Project>& projects() const { return publishedProjects; }
    int64_t mastersBytes() const { return keptBytes; }
    const std::filesystem::path& folder() const { return library; }
    // Counts the changes of the assets, the files left out, the kept masters and the projects.
    // Job progress leaves it alone.
    uint64_t revision() const { return changes; }

    std::string status() const;
    std::string librarySummary() const;
    // The jobs not done, in queue order.
    std::vector<Job> openJobs() const;

    // One refresh pass off the main thread: the watch, the scan, the kept masters.
    void rescan();
    void forgetPairedBrowsers();

    Stores stores() { return {queue, projectStore}; }
    LadderEngine& ladderEngine() { return engine; }
    DesktopServices& desktopServices() { return desktop; }
    const ServiceSetup& setup() const { return given; }

signals:
    // Once, when the listener is up or no port could be opened.
    void serverReady();
    // Before changed, for what follows the service: the job list is new.
    void jobsUpdated();
    // Before changed, after each refresh pass; assetsRead when the pass read the library.
    void refreshed(bool assetsRead);
    // Before changed: the projects list is new.
    void projectsUpdated();
    void changed();

private:
    // What a pass found; none when the library, "Masters" with it, did not change.
    struct Pass {
        std::shared_ptr<const std::vector<Asset>> assets;
        std::vector<std::string> leftOut;
        std::optional<int64_t> mastersBytes;
    };
    void updateJobs(std::vector<Job> list);
    void publishProjects(std::vector<Project> list);
    Pass refresh();
    void publish(const Pass& pass);

    DesktopServices& desktop;
    const ServiceSetup given;
    std::optional<uint16_t> listeningPort;
    int pairedCount = 0;
    std::vector<Asset> publishedAssets;
    std::vector<std::string> publishedLeftOut;
    std::vector<Job> publishedJobs;
    std::vector<Project> publishedProjects;
    int64_t keptBytes = 0;
    uint64_t changes = 0;
    std::set<std::string> done;
    Pairing pairing;
    PairingPrompt prompt;
    const std::filesystem::path library;
    AVEngine ownEngine;
    LadderEngine& engine;
    Jobs queue;
    Uploads uploads; // called by the server's threads and the refresh pass
    Projects projectStore;
    // The asset list as the server's thread sees it.
    LockedBox<Router::Assets> snapshot{AssetListing::of(nullptr)};
    TreeChanges libraryChanges; // used by one pass at a time
    bool passRunning = false; // a pass is under way: a rescan asked meanwhile runs once it ends
    bool passWanted = false;
    Router router;
    QTimer timer;
    QThreadPool passes; // waits for the pass under way before what it uses goes
    Server server;      // last, so that it stops before what it calls goes away
};
