#pragma once
#include "app/DraggedItem.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/DropPlan.h"
#include "TrelkCore/Jobs/JobGroup.h"
#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Platform/TreeChanges.h"
#include "TrelkCore/Projects/Cleanup.h"
#include "TrelkCore/Projects/Projects.h"
#include "TrelkCore/Projects/WallAdds.h"
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
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class Desktop;

// The service core: builds the stores, the job queue and the server at start and publishes
// their state; the windows' state and the operations their gestures call are here too
// (TrelkModelDrops.cpp, TrelkModelWindow.cpp). Its fields are read and written, and its
// operations called, on the main thread only.
class TrelkModel : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::filesystem::path serviceFolder;
        std::vector<uint16_t> ports;
        std::filesystem::path library;
        std::optional<std::filesystem::path> settings = std::nullopt; // none: the user's choices are not kept
        LadderEngine* engine = nullptr; // none: the model's own; else it must outlive the model
    };
    // The user's own service folder, library folder, settings file and the service's ports.
    static Setup standard();

    explicit TrelkModel(Desktop& desktop, Setup setup = standard());
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

    std::string status() const;
    std::string librarySummary() const;
    // The jobs not done, in queue order.
    std::vector<Job> openJobs() const;

    // One refresh pass off the main thread: the watch, the scan, the kept masters.
    void rescan();

    // The windows' state.
    const std::optional<DropPlan>& dropPlan() const { return pendingDrop; }
    const std::vector<WallAdd>& wallPending() const { return publishedWallAdds; }
    // The project the library is shown for; kept among the user's settings.
    const std::optional<std::string>& libraryProject() const { return shownProject; }
    void setLibraryProject(std::optional<std::string> project);
    const std::optional<std::vector<CleanupGroup>>& cleanup() const { return cleanupPlan; }
    // What a probe found of the plain videos, by asset id.
    const std::map<std::string, MasterInfo>& probed() const { return probedFacts; }
    // Counts the changes of all the library list shows but the jobs: the assets and their probed
    // facts, the kept masters, the projects and the project shown. Job progress leaves it alone.
    uint64_t libraryRevision() const { return revision; }

    // The file types the chooser of masters offers, as extensions.
    static std::vector<std::string> masterKinds();

    // Drops and additions (TrelkModelDrops.cpp).
    void addMasters();
    // False when no item holds a file: the drop is refused.
    bool dropMasters(const DraggedItems& items);
    void confirmDrop(const DropPlan& plan);
    void cancelDrop();
    void dropFiles(const DraggedItems& items, const std::string& wall, const std::string& project, bool oneCue);
    // Items holding library assets' ids as text.
    void drop(const DraggedItems& items, const std::string& wall, const std::string& project);
    // No assets: the user chooses files to make for the wall.
    void add(const std::vector<Asset>& assets, const std::string& wall, const std::string& project);
    void addFiles(const std::vector<std::filesystem::path>& files, const std::string& wall, const std::string& project,
                  bool oneCue);

    // Jobs, assets, pairing and the clean-up (TrelkModelWindow.cpp).
    void cancel(const std::string& job);
    void retry(const std::string& job);
    std::filesystem::path dropFolder() const { return queue.dropFolder(); }
    void forgetPairedBrowsers();
    // A set stops or starts again as a whole; of a lone row, the jobs at work or ended.
    void stop(const JobGroup& group);
    void retry(const JobGroup& group);
    // Groups still at work are left alone.
    void dismiss(const std::vector<JobGroup>& groups);
    void clearFailed();
    // "project · wall" for each list that plays the asset.
    std::vector<std::string> usersOf(const std::string& asset) const;
    // Each asset in turn; one that cannot go is named in an alert, and the rest still go.
    void moveToTrash(const std::vector<Asset>& assets);
    void tie(const std::vector<std::string>& assets, const std::string& project);
    void untie(const std::set<std::string>& assets, const std::string& project);
    // A wall list's item moves by offset places, or leaves the list.
    void moveItem(const std::string& item, int64_t offset, const std::string& project);
    void removeItem(const std::string& item, const std::string& project);
    // The project, its list and its ties go; its kept files stay in the library.
    void forget(const std::string& project);
    bool anyStopped() const;
    std::optional<Asset> asset(const std::optional<std::string>& id) const;
    void openCleanup();
    void runCleanup(const std::vector<CleanupGroup>& groups);
    void cancelCleanup();

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
        std::vector<std::string> leftOut;
        std::optional<int64_t> mastersBytes;
    };
    void queuePairAsk(PairAsk ask);
    void askToPair();
    std::optional<PairAsk> nextPairAsk();
    void showPairingDialog(const PairAsk& ask);
    void updateJobs(std::vector<Job> list);
    Pass refresh();
    void publish(const Pass& pass);

    // TrelkModelDrops.cpp
    std::optional<std::vector<std::filesystem::path>> chooseMasters();
    void tieWhenMade(const std::vector<std::optional<std::string>>& jobs);
    // The files the items hold, in item order, loaded one after the other; done runs on the
    // main thread, and not at all once the model is gone.
    void videos(const DraggedItems& items, std::function<void(std::vector<std::filesystem::path>)> done);
    void droppedOnLibrary(const std::vector<std::filesystem::path>& files);

    // TrelkModelWindow.cpp
    std::optional<std::string> storedLibraryProject() const;
    void keepLibraryProject() const;
    void publishProjects(std::vector<Project> list);
    void resolveAdds();
    void setWallPending(std::vector<WallAdd> adds);

    // TrelkModelProbe.cpp
    void probe();
    void startProbe(const Asset& asset);

    Desktop& desktop;
    std::optional<uint16_t> listeningPort;
    int pairedCount = 0;
    std::vector<Asset> publishedAssets;
    std::vector<std::string> publishedLeftOut;
    std::vector<Job> publishedJobs;
    std::vector<Project> publishedProjects;
    int64_t keptBytes = 0;
    std::optional<DropPlan> pendingDrop;
    std::vector<WallAdd> publishedWallAdds;
    std::optional<std::string> shownProject;
    std::optional<std::vector<CleanupGroup>> cleanupPlan;
    std::map<std::string, MasterInfo> probedFacts;
    uint64_t revision = 0;
    std::set<std::string> probing; // the probe keys started, never emptied: each file is probed once
    const std::optional<std::filesystem::path> settings;
    WallAdds wallAdds;
    std::set<std::string> done;
    Pairing pairing;
    const std::filesystem::path library;
    AVEngine ownEngine;
    LadderEngine& engine;
    Jobs queue;
    Uploads uploads; // called by the server's threads and the refresh pass
    Projects projectStore;
    // The asset list as the server's thread sees it.
    LockedBox<Router::Assets> snapshot{AssetListing::of(nullptr)};
    TreeChanges libraryChanges; // used by one pass at a time
    // Filled on the server's thread, emptied by the one pairing dialog at a time.
    LockedBox<std::deque<PairAsk>> pairAsks;
    bool askingToPair = false;
    bool passRunning = false; // a pass is under way: a rescan asked meanwhile runs once it ends
    bool passWanted = false;
    Router router;
    QTimer timer;
    QThreadPool passes; // waits for the pass under way before what it uses goes
    QThreadPool probes; // the same for the probe under way; those not begun are dropped
    Server server;      // last, so that it stops before what it calls goes away
};
