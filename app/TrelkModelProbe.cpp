#include "app/TrelkModel.h"

#include "TrelkCore/Platform/Priority.h"

#include <QMetaObject>

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

// Plain videos have no size in the library; a probe finds theirs, once per asset.
void TrelkModel::probe() {
    for (const Asset& asset : publishedAssets) {
        if (asset.master || asset.still || probedFacts.contains(asset.id)) continue;
        if (probing.insert(probeKey(asset)).second) startProbe(asset);
    }
}

// A failed probe leaves its key behind: the file is tried again only once it changes.
void TrelkModel::startProbe(const Asset& asset) {
    probes.start([this, id = asset.id, file = asset.folder / asset.file] {
        Priority::background(); // the pool's own thread, and the ffprobe it starts, as the making's
        std::optional<MasterInfo> facts;
        try {
            facts = engine.probe(file);
        } catch (...) {
            return;
        }
        // The pool ends before the model: the model is there, and the call is dropped with it.
        QMetaObject::invokeMethod(this, [this, id, facts = *facts] {
            probedFacts[id] = facts;
            ++revision;
            emit changed();
        }, Qt::QueuedConnection);
    });
}
