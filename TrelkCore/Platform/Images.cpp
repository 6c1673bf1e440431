#include "TrelkCore/Platform/Images.h"

#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/Files.h"

#include <fcntl.h>
#include <unistd.h>
#include <vips/vips.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>

namespace fs = std::filesystem;

namespace Images {
namespace {

// Larger pictures are refused rather than decoded: 2^30 pixels, a 32768 × 32768 square.
constexpr int64_t maxPixels = int64_t(1) << 30;

// The loaders of the picture types the library takes. vips could open much more (PDF, SVG,
// slide scanners, FITS, Matlab…), but files arrive from outside.
constexpr std::string_view loaders[] = {"pngload",  "jpegload", "gifload",   "webpload",
                                        "heifload", "tiffload", "magickload"};

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Image = std::unique_ptr<VipsImage, Unref>;
using Target = std::unique_ptr<VipsTargetCustom, Unref>;

void dropMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool startVips() {
    if (VIPS_INIT("vorlane-trelk") != 0) return false;
    // A long-running service: keep no images between calls and print nothing on the terminal.
    vips_cache_set_max(0);
    const auto quiet = GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
    g_log_set_handler("VIPS", quiet, dropMessage, nullptr);
    return true;
}

bool vipsReady() {
    static const bool ready = startVips();
    return ready;
}

// ImageMagick picks among its hundreds of formats by content; it is here for BMP and PSD only.
bool isBMPOrPSD(const fs::path& path) {
    const auto start = Files::readStart(path, 4);
    return start && (start->starts_with("BM") || start->starts_with("8BPS"));
}

const char* loaderFor(const fs::path& path) {
    for (std::string_view loader : loaders)
        if (vips_foreign_is_a(loader.data(), path.c_str()) && (loader != "magickload" || isBMPOrPSD(path)))
            return loader.data();
    return nullptr;
}

// The picture's header, with pixels decoded only when they are asked for; none when no loader of
// ours can read it. Decoding errors fail the pixel requests instead of being painted over.
Image open(const fs::path& path, VipsAccess access) {
    // Reading a FIFO would wait for a writer forever.
    std::error_code ignored;
    if (!fs::is_regular_file(path, ignored) || !vipsReady()) return nullptr;
    const char* loader = loaderFor(path);
    VipsImage* image = nullptr;
    if (loader) vips_call(loader, path.c_str(), &image, "access", access, "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
    if (!image) vips_error_clear();
    return Image(image);
}

int orientationOf(VipsImage* image) {
    int orientation = 1;
    if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) == G_TYPE_INT)
        vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation);
    return orientation;
}

bool isQuarterTurn(int orientation) { return orientation >= 5 && orientation <= 8; }

// Turns and vertical flips read rows out of order, which a sequential load cannot serve.
VipsAccess accessFor(int orientation) {
    return orientation >= 3 && orientation <= 8 ? VIPS_ACCESS_RANDOM : VIPS_ACCESS_SEQUENTIAL;
}

bool isWithinBound(VipsImage* image) {
    return int64_t(vips_image_get_width(image)) * vips_image_get_height(image) <= maxPixels;
}

// The first picture of source turned upright, its pixels not yet decoded; none when it cannot
// be read or is too large to decode.
Image upright(const fs::path& source) {
    Image header = open(source, VIPS_ACCESS_SEQUENTIAL);
    if (!header) return nullptr;
    const VipsAccess access = accessFor(orientationOf(header.get()));
    Image picture = access == VIPS_ACCESS_SEQUENTIAL ? std::move(header) : open(source, access);
    if (!picture || !isWithinBound(picture.get())) return nullptr;
    VipsImage* turned = nullptr;
    if (vips_autorot(picture.get(), &turned, nullptr) != 0) vips_error_clear();
    return Image(turned);
}

// A hidden file beside its final path, removed again unless it was put in place.
class PendingFile {
public:
    explicit PendingFile(const fs::path& target)
        : target(target),
          temporary(target.parent_path() / ("." + target.filename().string() + "." + Crypto::randomHex(6))),
          fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)), created(bool(fd)) {}
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() {
        if (created && !placed) ::unlink(temporary.c_str());
    }

    bool isOpen() const { return created; }
    int descriptor() const { return fd.get(); }
    // Syncs, closes and renames over the target; false when any step fails.
    bool place() {
        placed = ::fsync(fd.get()) == 0 && fd.close() == 0 && ::rename(temporary.c_str(), target.c_str()) == 0;
        return placed;
    }

private:
    fs::path target;
    fs::path temporary;
    Files::Descriptor fd;
    bool created;
    bool placed = false;
};

// Pixels are decoded while the PNG is written, so a failed save is told apart by whether a
// write to the file failed.
struct FileWriter {
    int fd;
    std::atomic<bool> failed = false;
};

gint64 writeToFile(VipsTargetCustom*, const void* data, gint64 length, gpointer writerPointer) {
    auto& writer = *static_cast<FileWriter*>(writerPointer);
    ssize_t written;
    do
        written = ::write(writer.fd, data, size_t(length));
    while (written < 0 && errno == EINTR);
    if (written <= 0) {
        writer.failed = true;
        return -1;
    }
    return written;
}

PNGResult save(VipsImage* picture, const fs::path& target) {
    PendingFile file(target);
    if (!file.isOpen()) return PNGResult::unwritable;
    FileWriter writer{file.descriptor()};
    const Target sink(vips_target_custom_new());
    g_signal_connect(sink.get(), "write", G_CALLBACK(writeToFile), &writer);
    if (vips_pngsave_target(picture, VIPS_TARGET(sink.get()), nullptr) != 0) {
        vips_error_clear();
        return writer.failed ? PNGResult::unwritable : PNGResult::unreadable;
    }
    return file.place() ? PNGResult::written : PNGResult::unwritable;
}

} // namespace

std::optional<Size> size(const fs::path& path) {
    const Image image = open(path, VIPS_ACCESS_SEQUENTIAL);
    if (!image) return std::nullopt;
    Size size{vips_image_get_width(image.get()), vips_image_get_height(image.get())};
    if (size.w <= 0 || size.h <= 0) return std::nullopt;
    if (isQuarterTurn(orientationOf(image.get()))) std::swap(size.w, size.h);
    return size;
}

PNGResult writePNG(const fs::path& source, const fs::path& target) {
    const Image picture = upright(source);
    return picture ? save(picture.get(), target) : PNGResult::unreadable;
}

} // namespace Images
