#include "TrelkCore/Platform/TreeChanges.h"

#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t events = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                            IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr int deepest = 64; // as deep as the library is read

// File systems whose changes may come from other machines, which send no notices here.
bool remote(const fs::path& folder) {
    struct statfs facts;
    if (::statfs(folder.c_str(), &facts) != 0) return true;
    static constexpr std::array<long, 7> kinds{NFS_SUPER_MAGIC,      SMB_SUPER_MAGIC, long(0xFF534D42) /* cifs */,
                                               long(0xFE534D42) /* smb2 */, long(0x65735546) /* fuse */,
                                               V9FS_MAGIC,           long(0x00C36400) /* ceph */};
    for (long kind : kinds)
        if (facts.f_type == kind) return true;
    return false;
}

} // namespace

TreeChanges::TreeChanges(fs::path folder)
    : folder(std::move(folder)), notices(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

bool TreeChanges::changed() {
    if (!notices) return true;
    if (watching) {
        if (!drain()) return false;
        // A folder may have come or gone: watch the tree again, then report the change.
        watching = watchAll();
        return true;
    }
    watching = watchAll();
    return true;
}

bool TreeChanges::watchAll() {
    if (remote(folder)) return false;
    complete = true;
    watchTree(folder, 0);
    drain(); // what the new watches already saw is part of this change
    return complete;
}

void TreeChanges::watchTree(const fs::path& path, int depth) {
    if (::inotify_add_watch(notices.get(), path.c_str(), events) < 0) {
        complete = false;
        return;
    }
    if (depth >= deepest) return;
    std::error_code error;
    for (fs::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (!entry->path().filename().string().starts_with(".") && entry->is_directory(ignored) &&
            !entry->is_symlink(ignored))
            watchTree(entry->path(), depth + 1);
    }
    if (error) complete = false;
}

bool TreeChanges::drain() {
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    while (true) {
        const ssize_t count = ::read(notices.get(), buffer, sizeof buffer);
        if (count <= 0) return any;
        for (ssize_t at = 0; at < count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            const bool hidden = event->len > 0 && event->name[0] == '.';
            // The kernel drops a folder's watch when it goes: that is a change too.
            if (!hidden || (event->mask & (IN_Q_OVERFLOW | IN_IGNORED))) any = true;
        }
    }
}
