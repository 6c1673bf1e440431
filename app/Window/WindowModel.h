#pragma once
#include "app/Service/Settings.h"
#include "app/Service/TrelkModel.h"
#include "app/Window/DraggedItem.h"
#include "app/Window/ProbeCache.h"

#include "TrelkCore/Jobs/DropPlan.h"
#include "TrelkCore/Jobs/JobGroup.h"
#include "TrelkCore/Projects/Cleanup.h"
#include "TrelkCore/Projects/WallAdds.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What the windows show beyond the service's state, and the operations their gestures call
// (WindowModelDrops.cpp, WindowModelProbe.cpp): it follows the service model, which knows
// nothing of it. Its fields are read and written, and its operations called, on the main thread.
class WindowModel : public QObject {
    Q_OBJECT
public:
    explicit WindowModel(TrelkModel& service);
    ~WindowModel() override;

    TrelkModel& service() { return followed; }
    const TrelkModel& service() const { return followed; }
    // The stores, for what the windows change in them directly.
    TrelkModel::Stores stores() const { return {queue, projectStore}; }

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
    uint64_t libraryRevision() const { return followed.revision() + revision; }

    // The file types the chooser of masters offers, as extensions.
    static std::vector<std::string> masterKinds();

    // Drops and additions (WindowModelDrops.cpp).
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

    // Jobs, assets and the clean-up (WindowModel.cpp).
    void cancel(const std::string& job);
    // A set stops or starts again as a whole; of a lone row, the jobs at work or ended.
    void stop(const JobGroup& group);
    void retry(const JobGroup& group);
    // Groups still at work are left alone.
    void dismiss(const std::vector<JobGroup>& groups);
    // Each asset in turn; one that cannot go is named in an alert, and the rest still go.
    void moveToTrash(const std::vector<Asset>& assets);
    bool anyStopped() const;
    std::optional<Asset> asset(const std::optional<std::string>& id) const;
    void openCleanup();
    void runCleanup(const std::vector<CleanupGroup>& groups);
    void cancelCleanup();

signals:
    // Also whenever the service model changed.
    void changed();

private:
    // WindowModelDrops.cpp
    std::optional<std::vector<std::filesystem::path>> chooseMasters();
    void tieWhenMade(const std::vector<std::optional<std::string>>& jobs);
    // The files the items hold, in item order, loaded one after the other; done runs on the
    // main thread, and not at all once the model is gone.
    void videos(const DraggedItems& items, std::function<void(std::vector<std::filesystem::path>)> done);
    void droppedOnLibrary(const std::vector<std::filesystem::path>& files);

    // WindowModel.cpp
    void followProjects();
    void resolveAdds();
    void setWallPending(std::vector<WallAdd> adds);

    // WindowModelProbe.cpp
    struct Probed {
        Asset asset;
        std::optional<MasterInfo> facts; // none: the probe failed
    };
    void probe();
    void probeNext();
    void probesEnded(const std::vector<Probed>& found, std::vector<Asset> left);
    void saveProbed();

    TrelkModel& followed;
    DesktopServices& desktop;
    Jobs& queue;
    Projects& projectStore;
    const std::filesystem::path& library;
    const Settings settings;
    std::optional<DropPlan> pendingDrop;
    std::vector<WallAdd> publishedWallAdds;
    std::optional<std::string> shownProject;
    std::optional<std::vector<CleanupGroup>> cleanupPlan;
    std::map<std::string, MasterInfo> probedFacts;
    uint64_t revision = 0;
    WallAdds wallAdds;
    ProbeCache probeCache; // the facts found at earlier starts, by file
    std::set<std::string> probing; // the probe keys started, never emptied: each file is probed once
    std::deque<Asset> toProbe;     // a few at a time, and only while the queue has no work
    bool probeRunning = false;
    // Set while the queue has work, and as the model goes: the batch under way stops.
    std::atomic<bool> probesHeld = false;
    QTimer probeSaving; // the facts found are kept a little later, in one write for many
    QThreadPool probes; // the batch under way, one at a time
};
