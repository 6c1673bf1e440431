#include "TrelkCore/Platform/Files.h"

#include "TrelkCore/Platform/Crypto.h"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace Files {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::chrono::system_clock::time_point timeOf(int64_t seconds, int64_t nanoseconds) {
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
}
std::chrono::system_clock::time_point timeOf(const struct timespec& time) { return timeOf(time.tv_sec, time.tv_nsec); }
std::chrono::system_clock::time_point timeOf(const struct statx_timestamp& time) {
    return timeOf(time.tv_sec, time.tv_nsec);
}

// Deeper folders than this are left out: each level of the walk holds a descriptor open.
constexpr int deepest = 64;

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    int copy = ::dup(folder);
    if (copy < 0) return names;
    DIR* listing = ::fdopendir(copy);
    if (!listing) {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) names.emplace_back(entry->d_name);
    ::closedir(listing);
    std::erase_if(names, [](const std::string& name) { return name == "." || name == ".."; });
    std::sort(names.begin(), names.end());
    return names;
}

void walk(int folder, const fs::path& path, int depth, const Skip& skip, std::vector<Entry>& found) {
    for (const std::string& name : namesIn(folder)) {
        if (name.starts_with(".") || skip(name, depth)) continue;
        struct stat info;
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(info.st_mode)) {
            found.push_back({path / name, {int64_t(info.st_size), timeOf(info.st_mtim)}});
        } else if (S_ISDIR(info.st_mode) && depth < deepest) {
            Descriptor inner(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (inner) walk(inner.get(), path / name, depth + 1, skip, found);
        }
    }
}

// Kernels before 5.6 have no openat2: each component is opened from the last without following a link.
Descriptor openWalking(int folder, const fs::path& relative, int flags) {
    Descriptor at(::dup(folder));
    std::vector<fs::path> parts(relative.begin(), relative.end());
    for (size_t i = 0; at && i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        at = Descriptor(::openat(at.get(), parts[i].c_str(),
                                 (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC));
    }
    return at;
}

Descriptor regularForReading(Descriptor fd) {
    struct stat info;
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        bytes.remove_prefix(size_t(written));
    }
}

void syncFolder(const fs::path& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) fail("sync " + folder.string());
}

fs::path home() {
    if (const char* value = std::getenv("HOME"); value && *value) return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

fs::path dataHome() {
    if (const char* value = std::getenv("XDG_DATA_HOME"); value && fs::path(value).is_absolute())
        return value;
    return home() / ".local" / "share";
}

void createFolders(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw std::system_error(error, "create " + folder.string());
}

void createPrivateFolders(const fs::path& folder) {
    std::error_code error;
    if (folder.empty() || fs::is_directory(folder, error)) return;
    createPrivateFolders(folder.parent_path());
    // The umask may take bits away, which would leave the folder unwritable to its owner.
    if (::mkdir(folder.c_str(), 0700) == 0) ::chmod(folder.c_str(), 0700);
    else if (errno != EEXIST) fail("create " + folder.string());
}

void writeAtomically(const fs::path& path, std::string_view bytes, mode_t mode) {
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    createFolders(folder);
    const fs::path temporary = folder / ("." + path.filename().string() + "." + Crypto::randomHex(6));
    Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.get() < 0) fail("create " + temporary.string());
    try {
        // The umask may have taken bits away; never more than mode is ever granted.
        if (::fchmod(fd.get(), mode) != 0) fail("chmod " + temporary.string());
        writeAll(fd.get(), bytes);
        if (::fsync(fd.get()) != 0) fail("sync " + temporary.string());
        if (fd.close() != 0) fail("close " + temporary.string());
        if (::rename(temporary.c_str(), path.c_str()) != 0) fail("rename " + path.string());
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    syncFolder(folder);
}

ssize_t readSome(int fd, void* buffer, size_t size) {
    while (true) {
        ssize_t count = ::read(fd, buffer, size);
        if (count >= 0 || errno != EINTR) return count;
    }
}

ssize_t readFully(int fd, void* buffer, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        ssize_t count = readSome(fd, static_cast<char*>(buffer) + filled, size - filled);
        if (count < 0) return -1;
        if (count == 0) break;
        filled += size_t(count);
    }
    return ssize_t(filled);
}

// Without O_NONBLOCK the open of a named pipe waits for a writer that may never come.
Descriptor openRegular(const fs::path& path) {
    return regularForReading(Descriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
}

Descriptor openRegularBeneath(const fs::path& folder, const fs::path& relative) {
    return regularForReading(openBeneath(folder, relative, O_RDONLY | O_NONBLOCK));
}

Descriptor openBeneath(const fs::path& folder, const fs::path& relative, int flags) {
    const fs::path normal = relative.lexically_normal();
    if (normal.is_absolute() || normal.empty() || *normal.begin() == "..") return {};
    Descriptor top(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!top) return {};
    open_how how{};
    how.flags = uint64_t(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    // EAGAIN: a rename elsewhere in the tree raced the walk; a few tries, then it counts as missing.
    for (int tries = 0; tries < 8; ++tries) {
        const long fd = ::syscall(SYS_openat2, top.get(), normal.c_str(), &how, sizeof how);
        if (fd >= 0) return Descriptor(int(fd));
        if (errno == ENOSYS) return openWalking(top.get(), normal, flags);
        if (errno != EINTR && errno != EAGAIN) return {};
    }
    return {};
}

bool beneath(const fs::path& folder, const fs::path& path) {
    const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !relative.empty() && bool(openBeneath(folder, relative, O_PATH | O_NOFOLLOW));
}

bool isRealFolder(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::directory;
}

bool isRegular(const fs::path& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> read(const fs::path& path, int64_t maxBytes) {
    Descriptor fd = openRegular(path);
    struct stat info;
    if (!fd || ::fstat(fd.get(), &info) != 0 || info.st_size > maxBytes) return std::nullopt;
    std::string bytes;
    char piece[65536];
    while (true) {
        ssize_t count = readSome(fd.get(), piece, sizeof piece);
        if (count < 0) return std::nullopt;
        if (count == 0) return bytes;
        bytes.append(piece, size_t(count));
        if (int64_t(bytes.size()) > maxBytes) return std::nullopt; // grew while being read
    }
}

std::optional<std::string> readStart(const fs::path& path, size_t count) {
    Descriptor fd = openRegular(path);
    if (!fd) return std::nullopt;
    std::string bytes(count, '\0');
    ssize_t filled = readFully(fd.get(), bytes.data(), count);
    if (filled < 0) return std::nullopt;
    bytes.resize(size_t(filled));
    return bytes;
}

std::optional<Facts> facts(const fs::path& path) {
    struct statx info;
    constexpr unsigned wanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, wanted, &info) != 0) return std::nullopt;
    if (!(info.stx_mask & STATX_TYPE) || !S_ISREG(info.stx_mode)) return std::nullopt;
    Facts facts{int64_t(info.stx_size), timeOf(info.stx_mtime)};
    if (info.stx_mask & STATX_BTIME) facts.created = timeOf(info.stx_btime);
    return facts;
}

std::optional<std::vector<Entry>> regularFiles(const fs::path& folder, const Skip& skip) {
    Descriptor top(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top) return std::nullopt;
    std::vector<Entry> found;
    walk(top.get(), folder, 1, skip, found);
    return found;
}

std::string numbered(const std::string& name, int n) {
    if (n == 1) return name;
    const fs::path path(name);
    return path.stem().string() + " " + std::to_string(n) + path.extension().string();
}

// f_bavail leaves out the blocks kept for the superuser, which an ordinary program cannot use.
std::optional<int64_t> freeSpace(const fs::path& path) {
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return int64_t(info.f_bavail) * int64_t(info.f_frsize);
}

void moveToTrash(const fs::path& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    const bool moved = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (moved) return;
    std::string reason = error ? error->message : "couldn't move it to the Trash";
    if (error) g_error_free(error);
    throw std::runtime_error(reason);
}

} // namespace Files
