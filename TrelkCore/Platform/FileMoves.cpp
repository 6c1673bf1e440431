#include "TrelkCore/Platform/FileMoves.h"

#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/Files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace Files {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// The answers of a file system that does not offer the operation at all.
bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV; }

void copyByReading(int from, int to) {
    std::vector<char> piece(1 << 20);
    while (true) {
        ssize_t count = readSome(from, piece.data(), piece.size());
        if (count < 0) fail("read");
        if (count == 0) return;
        writeAll(to, {piece.data(), size_t(count)});
    }
}

// Up to the end of from, however long it has grown meanwhile.
void copyContent(int from, int to) {
    if (::ioctl(to, FICLONE, from) == 0) return;
    bool first = true;
    while (true) {
        ssize_t count = ::copy_file_range(from, nullptr, to, nullptr, size_t(1) << 30, 0);
        if (count > 0) {
            first = false;
            continue;
        }
        if (count == 0) return;
        if (errno == EINTR) continue;
        if (first && unsupported(errno)) return copyByReading(from, to);
        fail("copy");
    }
}

} // namespace

void moveNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    if (!unsupported(errno) || errno == EXDEV) fail("move " + from.string());
    // A file system without the flag: one user, so a look first is as good.
    struct stat info;
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        fail("move " + from.string());
    }
    if (::rename(from.c_str(), to.c_str()) != 0) fail("move " + from.string());
}

bool exchange(const fs::path& a, const fs::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return true;
    if (unsupported(errno) && errno != EXDEV) return false;
    fail("swap " + a.string());
}

void copyFile(const fs::path& from, const fs::path& to) {
    Descriptor source = openRegular(from);
    struct stat info;
    if (!source || ::fstat(source.get(), &info) != 0) fail("open " + from.string());
    const fs::path folder = to.parent_path();
    const fs::path temporary = folder / ("." + to.filename().string() + "." + Crypto::randomHex(6));
    Descriptor target(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777));
    if (!target) fail("create " + temporary.string());
    try {
        copyContent(source.get(), target.get());
        if (::fsync(target.get()) != 0) fail("sync " + temporary.string());
        if (target.close() != 0) fail("close " + temporary.string());
        moveNoReplace(temporary, to);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    syncFolder(folder);
}

void linkOrCopy(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) return;
    if (errno != EPERM && errno != EMLINK && errno != EXDEV && errno != ENOTSUP && errno != EOPNOTSUPP)
        fail("link " + from.string());
    copyFile(from, to);
}

} // namespace Files
