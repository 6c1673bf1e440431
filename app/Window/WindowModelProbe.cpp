#include "app/Window/WindowModel.h"

#include "TrelkCore/Platform/Priority.h"

#include <QMetaObject>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <chrono>

namespace {

// Enough for the window to take many facts in one redraw, few enough to show them soon.
constexpr size_t probeBatch = 64;

// The asset at its modification time: a file that changes gets a new key.
std::string probeKey(const Asset& asset) {
    const double seconds = std::chrono::duration<double>(asset.modified.time_since_epoch()).count();
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
    return asset.id + "@" + std::string(text, end);
}

} // namespace

// Plain videos have no size in the library; a probe finds theirs, once per asset, unless an
// earlier start found it already.
void WindowModel::probe() {
    bool known = false;
    for (const Asset& asset : followed.assets()) {
        if (asset.master || asset.still || probedFacts.contains(asset.id)) continue;
        const std::string key = probeKey(asset);
        if (probing.contains(key)) continue;
        if (const std::optional<MasterInfo>* found = probeCache.find(asset)) {
            if (*found) probedFacts.emplace(asset.id, **found);
            else probing.insert(key); // it failed before: not again until the file changes
            known = known || found->has_value();
        } else {
            probing.insert(key);
            toProbe.push_back(asset);
        }
    }
    if (known) {
        ++revision;
        emit changed();
    }
    probeNext();
}

// A batch at a time off the main thread, and none while the queue has work: the making goes
// first. A batch that finds the queue at work stops and leaves the rest for later.
void WindowModel::probeNext() {
    probesHeld = std::ranges::any_of(followed.jobs(), [](const Job& job) { return job.active(); });
    if (probeRunning || toProbe.empty() || probesHeld) return;
    probeRunning = true;
    const auto end = toProbe.begin() + std::ptrdiff_t(std::min(toProbe.size(), probeBatch));
    std::vector<Asset> batch(std::make_move_iterator(toProbe.begin()), std::make_move_iterator(end));
    toProbe.erase(toProbe.begin(), end);
    probes.start([this, batch = std::move(batch)] {
        Priority::background(); // the pool's own thread, and the ffprobe it starts, as the making's
        std::vector<Probed> found;
        for (const Asset& asset : batch) {
            if (probesHeld) break;
            found.push_back({asset, std::nullopt});
            try {
                found.back().facts = followed.ladderEngine().probe(asset.folder / asset.file);
            } catch (...) {
            }
        }
        std::vector<Asset> left(batch.begin() + std::ptrdiff_t(found.size()), batch.end());
        // The pool ends before the model: the model is there, and the call is dropped with it.
        QMetaObject::invokeMethod(this, [this, found = std::move(found), left = std::move(left)]() mutable {
            probesEnded(found, std::move(left));
        }, Qt::QueuedConnection);
    });
}

// A failed probe leaves its key behind: the file is tried again only once it changes.
void WindowModel::probesEnded(const std::vector<Probed>& found, std::vector<Asset> left) {
    probeRunning = false;
    toProbe.insert(toProbe.begin(), std::make_move_iterator(left.begin()), std::make_move_iterator(left.end()));
    bool facts = false;
    for (const Probed& probed : found) {
        probeCache.add(probed.asset, probed.facts);
        if (!probed.facts) continue;
        probedFacts[probed.asset.id] = *probed.facts;
        facts = true;
    }
    if (!found.empty() && !probeSaving.isActive()) probeSaving.start();
    if (facts) {
        ++revision;
        emit changed();
    }
    probeNext();
}

void WindowModel::saveProbed() {
    probeSaving.stop();
    probeCache.save(followed.assets());
}
