#include "app/Service/TrelkModel.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Version.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <numeric>

namespace {

constexpr int refreshMilliseconds = 4000;

// The library folder, made when it is missing; a failure leaves the scans empty.
const std::filesystem::path& created(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

} // namespace

TrelkModel::TrelkModel(DesktopServices& desktop, ServiceSetup setup)
    : desktop(desktop),
      given(setup),
      pairing(setup.serviceFolder / "tokens.json"),
      prompt(pairing, desktop, [this] {
          pairedCount = pairing.count();
          emit changed();
      }),
      library(setup.library),
      engine(setup.engine ? *setup.engine : ownEngine),
      queue(created(library), engine, setup.serviceFolder / "masters.json"),
      uploads(queue.dropFolder(),
              [this](const std::vector<std::filesystem::path>& files) {
                  return queue.addAll(files, Origin::dropped, Grouping::byName);
              }),
      projectStore(setup.serviceFolder / "projects.json"),
      libraryChanges(library),
      // Called on the server's thread, which stops before the queue goes away.
      router(TrelkInfo::current().description(),
             {pairing, uploads, projectStore, library, [this] { return snapshot.get(); }, [this] { return queue.jobs(); },
              [this](std::string id, std::string code, std::string origin) {
                  prompt.ask(std::move(id), std::move(code), std::move(origin));
              }}),
      server(router) {
    pairedCount = pairing.count();
    publishedProjects = projectStore.all();
    // Comes on the thread that changed the store; the server stops before the store goes.
    projectStore.onChange = [this] {
        QMetaObject::invokeMethod(this, [this, list = projectStore.all()]() mutable { publishProjects(std::move(list)); },
                                  Qt::QueuedConnection);
    };
    // Comes on any thread; the queue joins its thread before this object's base goes.
    queue.onChange([this] {
        QMetaObject::invokeMethod(this, [this, list = queue.jobs()]() mutable { updateJobs(std::move(list)); },
                                  Qt::QueuedConnection);
    });
    // What an earlier run left under way is there from the start: its ended jobs are no news.
    publishedJobs = queue.jobs();
    for (const Job& job : publishedJobs)
        if (job.is<Job::Done>()) done.insert(job.id);
    QPointer<TrelkModel> model(this);
    server.start(setup.ports, [model](std::optional<uint16_t> port) {
        QMetaObject::invokeMethod(model, [model, port] {
            if (!model) return;
            model->listeningPort = port;
            emit model->changed();
            emit model->serverReady();
        }, Qt::QueuedConnection);
    });
    passes.setMaxThreadCount(1);
    rescan();
    connect(&timer, &QTimer::timeout, this, &TrelkModel::rescan);
    timer.start(refreshMilliseconds);
}

// The server goes first (it is the last member) and joins its thread, then the pass under way
// ends, then the queue joins its runner: no callback is left.
TrelkModel::~TrelkModel() = default;

std::string TrelkModel::status() const {
    if (!listeningPort) return "Trelk off · ports 47615–47617 are taken";
    if (pairedCount == 0) return "Not linked · open VorlaneWeb in Chrome to pair";
    return "Linked · " + std::to_string(pairedCount) + " browser" + (pairedCount == 1 ? "" : "s");
}

std::string TrelkModel::librarySummary() const {
    const int64_t bytes = std::accumulate(publishedAssets.begin(), publishedAssets.end(), int64_t(0),
                                          [](int64_t sum, const Asset& asset) { return sum + asset.bytes; });
    const size_t count = publishedAssets.size();
    std::string summary = "Library · " + std::to_string(count) + " item" + (count == 1 ? "" : "s") + " · " +
                          Text::byteCount(bytes);
    if (keptBytes >= 1) summary += " · masters " + Text::byteCount(keptBytes);
    return summary;
}

std::vector<Job> TrelkModel::openJobs() const {
    std::vector<Job> open;
    std::ranges::copy_if(publishedJobs, std::back_inserter(open), [](const Job& job) { return !job.is<Job::Done>(); });
    return open;
}

void TrelkModel::updateJobs(std::vector<Job> list) {
    std::set<std::string> nowDone;
    for (const Job& job : list)
        if (job.is<Job::Done>()) nowDone.insert(job.id);
    const bool newlyDone = std::ranges::any_of(nowDone, [&](const std::string& id) { return !done.contains(id); });
    done = std::move(nowDone);
    publishedJobs = std::move(list);
    emit jobsUpdated();
    emit changed();
    if (newlyDone) rescan(); // a made master is in the library at once, not at the next tick
}

// One pass at a time: one asked for while a pass runs runs once it has ended, so the last
// pass always sees the last change and the published results are those of a full pass.
void TrelkModel::rescan() {
    if (passRunning) {
        passWanted = true;
        return;
    }
    passRunning = true;
    passes.start([this] {
        Pass pass = refresh();
        QMetaObject::invokeMethod(this, [this, pass] { publish(pass); }, Qt::QueuedConnection);
    });
}

TrelkModel::Pass TrelkModel::refresh() {
    uploads.sweep(std::chrono::system_clock::now());
    queue.watch();
    Pass pass;
    // A library nobody touched is not read again: the snapshot stands as it is.
    if (!libraryChanges.changed()) return pass;
    pass.assets = std::make_shared<const std::vector<Asset>>(Library::scan(library, &pass.leftOut));
    snapshot.set(AssetListing::of(pass.assets));
    pass.mastersBytes = 0;
    for (const KeptMaster& master : queue.keptMasters()) *pass.mastersBytes += master.bytes;
    return pass;
}

void TrelkModel::publish(const Pass& pass) {
    passRunning = false;
    bool different = pass.mastersBytes && *pass.mastersBytes != keptBytes;
    if (pass.mastersBytes) keptBytes = *pass.mastersBytes;
    if (pass.assets && *pass.assets != publishedAssets) {
        publishedAssets = *pass.assets;
        different = true;
    }
    if (pass.assets && pass.leftOut != publishedLeftOut) {
        publishedLeftOut = pass.leftOut;
        different = true;
    }
    if (different) ++changes;
    emit refreshed(pass.assets != nullptr);
    if (different) emit changed();
    if (std::exchange(passWanted, false)) rescan();
}

void TrelkModel::publishProjects(std::vector<Project> list) {
    publishedProjects = std::move(list);
    ++changes;
    emit projectsUpdated();
    emit changed();
}

void TrelkModel::forgetPairedBrowsers() {
    pairing.forgetAll();
    pairedCount = 0;
    emit changed();
}
