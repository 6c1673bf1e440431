#include "app/Window/WindowModel.h"

#include "TrelkCore/Platform/Priority.h"

#include <QMetaObject>

#include <algorithm>
#include <charconv>
#include <chrono>

namespace {

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

// One probe at a time, and none while the queue has work: the making goes first.
void WindowModel::probeNext() {
    if (probeRunning || toProbe.empty()) return;
    if (std::ranges::any_of(followed.jobs(), [](const Job& job) { return job.active(); })) return;
    probeRunning = true;
    probes.start([this, asset = std::move(toProbe.front())] {
        Priority::background(); // the pool's own thread, and the ffprobe it starts, as the making's
        std::optional<MasterInfo> facts;
        try {
            facts = followed.engine().probe(asset.folder / asset.file);
        } catch (...) {
        }
        // The pool ends before the model: the model is there, and the call is dropped with it.
        QMetaObject::invokeMethod(this, [this, asset, facts] { probeEnded(asset, facts); }, Qt::QueuedConnection);
    });
    toProbe.pop_front();
}

// A failed probe leaves its key behind: the file is tried again only once it changes.
void WindowModel::probeEnded(const Asset& asset, const std::optional<MasterInfo>& facts) {
    probeRunning = false;
    probeCache.add(asset, facts);
    if (!probeSaving.isActive()) probeSaving.start();
    if (facts) {
        probedFacts[asset.id] = *facts;
        ++revision;
        emit changed();
    }
    probeNext();
}

void WindowModel::saveProbed() {
    probeSaving.stop();
    probeCache.save(followed.assets());
}
