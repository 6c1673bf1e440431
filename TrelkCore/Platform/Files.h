#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace Files {

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    // Closes now and tells whether close itself succeeded.
    int close() { return ::close(std::exchange(fd, -1)); }
    void reset() {
        if (fd >= 0) ::close(std::exchange(fd, -1));
    }
    // Hands the descriptor over to whoever closes it now.
    int release() { return std::exchange(fd, -1); }

private:
    int fd = -1;
};

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path dataHome();

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path home();

// Creates the folder and any missing parents; throws std::system_error.
void createFolders(const std::filesystem::path& folder);
// The same, each folder it creates 0700 whatever the umask: for what only this user may change.
void createPrivateFolders(const std::filesystem::path& folder);

// Replaces path with bytes, or leaves the old file as it was: a temporary file in the same
// folder, created with mode from the start, written, synced, renamed over path, folder synced.
// Creates missing parent folders first. Throws std::system_error.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// Writes every byte, tried again when a signal interrupts; throws std::system_error.
void writeAll(int fd, std::string_view bytes);

// Makes the folder's entries (a rename, a new file) last through a power loss; throws std::system_error.
void syncFolder(const std::filesystem::path& folder);

// read(2), tried again when a signal interrupts it: the count read, 0 at the end, or -1 (errno says why).
ssize_t readSome(int fd, void* buffer, size_t size);

// Reads until size bytes are in or the stream ends: the count that arrived, or -1 (errno says why).
ssize_t readFully(int fd, void* buffer, size_t size);

// The file opened for reading, or none when it cannot be or is not a regular file: a named pipe
// or a device is never waited for.
Descriptor openRegular(const std::filesystem::path& path);
// Whether path leads to a regular file, following symbolic links.
bool isRegular(const std::filesystem::path& path);

// The file at relative, opened with flags from the folder, none unless the whole way lies beneath
// the folder without a symbolic link on it: a file swapped for a link since it was listed reaches
// nothing. The folder itself may be reached through a link.
Descriptor openBeneath(const std::filesystem::path& folder, const std::filesystem::path& relative, int flags);
// openBeneath's regular file for reading, as openRegular.
Descriptor openRegularBeneath(const std::filesystem::path& folder, const std::filesystem::path& relative);
// Whether path lies inside folder (or is it) with no symbolic link on the way; path itself may be one.
bool beneath(const std::filesystem::path& folder, const std::filesystem::path& path);
// Whether path is a folder itself, not a link to one.
bool isRealFolder(const std::filesystem::path& path);

// The whole file, or none when it cannot be read or is larger than maxBytes.
std::optional<std::string> read(const std::filesystem::path& path, int64_t maxBytes);

// At most the first count bytes of a regular file; none when it cannot be read.
std::optional<std::string> readStart(const std::filesystem::path& path, size_t count);

// Size, content-modification time and, where the file system keeps it, creation time of a
// regular file; none for anything else, symbolic links included.
struct Facts {
    int64_t size;
    std::chrono::system_clock::time_point modified;
    std::optional<std::chrono::system_clock::time_point> created{};
};
std::optional<Facts> facts(const std::filesystem::path& path);

struct Entry {
    std::filesystem::path path;
    Facts facts;
};

// Whether the enumeration leaves out a folder or file: its name and its depth (1 for the items
// directly in the folder enumerated).
using Skip = std::function<bool(std::string_view name, int depth)>;

// Every regular file under folder, depth first, each folder's items in name order. Hidden items
// are left out and symbolic links are never followed, so the walk stays inside folder and ends.
// None when folder itself cannot be read.
std::optional<std::vector<Entry>> regularFiles(const std::filesystem::path& folder, const Skip& skip);

// The name for the nth try at a free place: the name itself, then "clip 2.mov", "clip 3.mov" and on.
std::string numbered(const std::string& name, int n);

// The bytes an ordinary program may still write on the volume that holds path; none when the
// volume cannot tell.
std::optional<int64_t> freeSpace(const std::filesystem::path& path);

// Moves a file or folder to the user's Trash; throws std::runtime_error with the reason.
void moveToTrash(const std::filesystem::path& path);

} // namespace Files
