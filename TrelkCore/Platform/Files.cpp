#include "TrelkCore/Platform/Files.h"

#include "TrelkCore/Platform/Crypto.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace Files {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

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

} // namespace

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

std::optional<std::string> read(const fs::path& path, int64_t maxBytes) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (info.st_size > maxBytes) return std::nullopt;
    std::string bytes;
    char piece[65536];
    while (true) {
        ssize_t count = ::read(fd.get(), piece, sizeof piece);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (count == 0) return bytes;
        bytes.append(piece, size_t(count));
        if (int64_t(bytes.size()) > maxBytes) return std::nullopt; // grew while being read
    }
}

} // namespace Files
