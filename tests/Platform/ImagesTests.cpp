#include "TrelkCore/Platform/Images.h"

#include "tests/support/Limits.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vips/vips.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Images::PNGResult;
using Images::Size;

namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Image = std::unique_ptr<VipsImage, Unref>;

// Grey value of the stored pixel (x, y) of the test pictures; in a 6 × 4 picture no two are alike.
int shade(int x, int y) { return 6 * x + 40 * y; }

// A grey w × h picture of shade(x, y), with the given EXIF orientation when it is not 0.
Image picture(int w, int h, int orientation = 0) {
    static const bool started = VIPS_INIT("ImagesTests") == 0;
    EXPECT_TRUE(started);
    std::vector<unsigned char> pixels(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[size_t(y) * size_t(w) + size_t(x)] = (unsigned char)(shade(x, y) % 256);
    Image image(vips_image_new_from_memory_copy(pixels.data(), pixels.size(), w, h, 1, VIPS_FORMAT_UCHAR));
    if (orientation) vips_image_set_int(image.get(), VIPS_META_ORIENTATION, orientation);
    return image;
}

// Noise compresses badly, so the files are large enough to cut and to overflow a write limit.
Image noise(int w, int h) {
    VipsImage* grey = nullptr;
    vips_gaussnoise(&grey, w, h, "mean", 128.0, "sigma", 60.0, nullptr);
    Image holder(grey);
    VipsImage* bytes = nullptr;
    vips_cast_uchar(holder.get(), &bytes, nullptr);
    return Image(bytes);
}

// Saves with the saver of the path's extension; lossy savers at their best quality.
void save(VipsImage* image, const fs::path& path) {
    const std::string type = path.extension().string().substr(1);
    int failed;
    if (type == "jpg" || type == "jpeg")
        failed = vips_jpegsave(image, path.c_str(), "Q", 100, nullptr);
    else if (type == "avif")
        failed = vips_heifsave(image, path.c_str(), "compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1, nullptr);
    else if (type == "heic" || type == "heif")
        failed = vips_heifsave(image, path.c_str(), nullptr);
    else if (type == "bmp" || type == "psd")
        failed = vips_magicksave(image, path.c_str(), "format", type.c_str(), nullptr);
    else
        failed = vips_image_write_to_file(image, path.c_str(), nullptr);
    ASSERT_EQ(failed, 0) << vips_error_buffer();
}

Image load(const fs::path& path) {
    Image image(vips_image_new_from_file(path.c_str(), nullptr));
    EXPECT_TRUE(image) << vips_error_buffer();
    return image;
}

int pixel(VipsImage* image, int x, int y) {
    double* values = nullptr;
    int count = 0;
    EXPECT_EQ(vips_getpoint(image, &values, &count, x, y, nullptr), 0) << vips_error_buffer();
    const int value = count > 0 ? int(values[0]) : -1;
    g_free(values);
    return value;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename());
    return names;
}

bool isPNG(const fs::path& path) { return readFile(path).starts_with("\x89PNG\r\n\x1a\n"); }

std::string bigEndian(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

uint32_t crc32(std::string_view bytes) {
    uint32_t crc = 0xffffffff;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::string pngChunk(std::string_view type, std::string_view data) {
    const std::string body = std::string(type) + std::string(data);
    return bigEndian(uint32_t(data.size())) + body + bigEndian(crc32(body));
}

// A well-formed PNG header declaring w × h RGB pixels, with no pixel data at all.
std::string pngHeaderOnly(uint32_t w, uint32_t h) {
    const std::string header = bigEndian(w) + bigEndian(h) + std::string("\x08\x02\x00\x00\x00", 5);
    return "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", header) + pngChunk("IDAT", "") + pngChunk("IEND", "");
}

const char* const stillTypes[] = {"png", "jpg", "jpeg", "gif", "webp", "avif"};
const char* const stillMadeTypes[] = {"tif", "tiff", "heic", "heif", "bmp", "psd"};

} // namespace

TEST(Images, SizeOfEveryStillTypeComesFromItsHeader) {
    TempFolder folder;
    for (const auto& types : {std::span(stillTypes), std::span(stillMadeTypes)})
        for (const char* type : types) {
            SCOPED_TRACE(type);
            const fs::path path = folder / (std::string("still.") + type);
            save(picture(6, 4).get(), path);
            EXPECT_EQ(Images::size(path), (Size{6, 4}));
        }
}

TEST(Images, EveryMadeTypeConvertsToAPNGOfItsSize) {
    TempFolder folder;
    for (const char* type : stillMadeTypes) {
        SCOPED_TRACE(type);
        const fs::path source = folder / (std::string("still.") + type);
        const fs::path target = folder / (std::string(type) + ".png");
        save(picture(6, 4).get(), source);
        EXPECT_EQ(Images::writePNG(source, target), PNGResult::written);
        EXPECT_TRUE(isPNG(target));
        EXPECT_EQ(Images::size(target), (Size{6, 4}));
    }
}

TEST(Images, QuarterTurnOrientationsSwapWidthAndHeight) {
    TempFolder folder;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const fs::path source = folder / "turned.jpg";
        const fs::path target = folder / "turned.png";
        save(picture(6, 4, orientation).get(), source);
        const Size shown = orientation >= 5 ? Size{4, 6} : Size{6, 4};
        EXPECT_EQ(Images::size(source), shown);
        ASSERT_EQ(Images::writePNG(source, target), PNGResult::written);
        // The PNG is upright and says so: read again, it keeps the size shown.
        EXPECT_EQ(Images::size(target), shown);
    }
}

TEST(Images, PNGHoldsThePixelsAsShown) {
    // Where the shown pixel (x, y) lies in the stored picture of 6 × 4, for each orientation.
    using Place = std::function<std::pair<int, int>(int x, int y)>;
    const std::array<Place, 9> stored = {
        nullptr,
        [](int x, int y) { return std::pair(x, y); },
        [](int x, int y) { return std::pair(5 - x, y); },
        [](int x, int y) { return std::pair(5 - x, 3 - y); },
        [](int x, int y) { return std::pair(x, 3 - y); },
        [](int x, int y) { return std::pair(y, x); },
        [](int x, int y) { return std::pair(y, 3 - x); },
        [](int x, int y) { return std::pair(5 - y, 3 - x); },
        [](int x, int y) { return std::pair(5 - y, x); },
    };
    TempFolder folder;
    for (const char* type : {"jpg", "tif"})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << type << " orientation " << orientation);
            const fs::path source = folder / (std::string("still.") + type);
            const fs::path target = folder / "still.png";
            save(picture(6, 4, orientation).get(), source);
            ASSERT_EQ(Images::writePNG(source, target), PNGResult::written);
            const Image png = load(target);
            const Size shown = orientation >= 5 ? Size{4, 6} : Size{6, 4};
            ASSERT_EQ(vips_image_get_width(png.get()), shown.w);
            ASSERT_EQ(vips_image_get_height(png.get()), shown.h);
            for (int y = 0; y < shown.h; ++y)
                for (int x = 0; x < shown.w; ++x) {
                    const auto [storedX, storedY] = stored[size_t(orientation)](x, y);
                    EXPECT_NEAR(pixel(png.get(), x, y), shade(storedX, storedY), 3) << x << ", " << y;
                }
        }
}

TEST(Images, TurnedPicturesOfManyRowsAreWritten) {
    // Turning reads rows out of order, which a picture streamed from the top cannot serve.
    TempFolder folder;
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const fs::path source = folder / "tall.jpg";
        save(picture(8, 3000, orientation).get(), source);
        EXPECT_EQ(Images::writePNG(source, folder / "tall.png"), PNGResult::written);
        EXPECT_EQ(Images::size(folder / "tall.png"), orientation >= 5 ? (Size{3000, 8}) : (Size{8, 3000}));
    }
}

TEST(Images, OnlyTheFirstPageCounts) {
    TempFolder folder;
    for (const char* type : {"gif", "tif"}) {
        SCOPED_TRACE(type);
        const Image first = picture(6, 4);
        VipsImage* joined = nullptr;
        ASSERT_EQ(vips_join(first.get(), first.get(), &joined, VIPS_DIRECTION_VERTICAL, nullptr), 0);
        const Image pages(joined);
        vips_image_set_int(pages.get(), VIPS_META_PAGE_HEIGHT, 4);
        const fs::path source = folder / (std::string("pages.") + type);
        save(pages.get(), source);
        EXPECT_EQ(Images::size(source), (Size{6, 4}));
        ASSERT_EQ(Images::writePNG(source, folder / "pages.png"), PNGResult::written);
        EXPECT_EQ(Images::size(folder / "pages.png"), (Size{6, 4}));
    }
}

TEST(Images, HostileFilesHaveNoSizeAndMakeNoPNG) {
    TempFolder folder;
    save(picture(6, 4).get(), folder / "real.jpg");
    const std::string jpeg = readFile(folder / "real.jpg");
    // ImageMagick reads PCX too, but the library takes it for nothing.
    ASSERT_EQ(vips_magicksave(picture(6, 4).get(), (folder / "real.pcx").c_str(), "format", "pcx", nullptr), 0);
    const std::string pcx = readFile(folder / "real.pcx");
    const struct {
        const char* name;
        std::string bytes;
    } files[] = {
        {"empty.png", ""},
        {"garbage.png", std::string(4096, '\x5a')},
        {"header-cut.jpg", jpeg.substr(0, 30)},
        {"picture.jpg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"6\" height=\"4\"/>"},
        {"picture.bmp", "P2\n6 4\n255\n" + std::string(24 * 2, '1')},
        {"picture.psd", "8BPS" + std::string(200, '\0')},
        {"pcx.bmp", pcx},
        {"picture.tif", std::string("II*\0", 4) + std::string(8, '\xff')},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        writeFile(folder / file.name, file.bytes);
        EXPECT_EQ(Images::size(folder / file.name), std::nullopt);
        EXPECT_EQ(Images::writePNG(folder / file.name, folder / "out.png"), PNGResult::unreadable);
        EXPECT_FALSE(fs::exists(folder / "out.png"));
    }
}

TEST(Images, WhatIsNoFileHasNoSizeAndMakesNoPNG) {
    TempFolder folder;
    fs::create_directory(folder / "folder.png");
    ASSERT_EQ(mkfifo((folder / "fifo.png").c_str(), 0600), 0);
    for (const char* name : {"missing.png", "folder.png", "fifo.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Images::size(folder / name), std::nullopt);
        EXPECT_EQ(Images::writePNG(folder / name, folder / "out.png"), PNGResult::unreadable);
    }
    EXPECT_FALSE(fs::exists(folder / "out.png"));
}

TEST(Images, TruncatedPictureMakesNoPNGAndKeepsTheOldOne) {
    TempFolder folder;
    const Image picture = noise(64, 64);
    for (const char* type : {"jpg", "png", "tif", "webp"}) {
        SCOPED_TRACE(type);
        const fs::path full = folder / (std::string("full.") + type);
        save(picture.get(), full);
        const std::string bytes = readFile(full);
        fs::remove(full);
        const fs::path cut = folder / (std::string("cut.") + type);
        writeFile(cut, bytes.substr(0, bytes.size() / 2));
        writeFile(folder / "out.png", "old");
        EXPECT_EQ(Images::writePNG(cut, folder / "out.png"), PNGResult::unreadable);
        EXPECT_EQ(readFile(folder / "out.png"), "old");
        EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"out.png", cut.filename()}));
        fs::remove(cut);
    }
}

TEST(Images, HugeDeclaredSizeIsANumberButNeverDecoded) {
    TempFolder folder;
    writeFile(folder / "huge.png", pngHeaderOnly(100000, 100000));
    EXPECT_EQ(Images::size(folder / "huge.png"), (Size{100000, 100000}));
    EXPECT_EQ(Images::writePNG(folder / "huge.png", folder / "out.png"), PNGResult::unreadable);
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"huge.png"});
}

TEST(Images, PicturesAbove2To30PixelsAreRefusedBeforeAnyWriting) {
    // Into a missing folder, only a picture refused from its header alone is unreadable.
    TempFolder folder;
    const fs::path target = folder / "missing" / "out.png";
    writeFile(folder / "above.png", pngHeaderOnly(32768, 32769));
    EXPECT_EQ(Images::writePNG(folder / "above.png", target), PNGResult::unreadable);
    writeFile(folder / "at.png", pngHeaderOnly(32768, 32768));
    EXPECT_EQ(Images::writePNG(folder / "at.png", target), PNGResult::unwritable);
}

TEST(Images, PNGIntoAMissingFolderIsUnwritable) {
    TempFolder folder;
    save(picture(6, 4).get(), folder / "still.tif");
    EXPECT_EQ(Images::writePNG(folder / "still.tif", folder / "missing" / "still.png"), PNGResult::unwritable);
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST(Images, FailedWriteIsUnwritableAndLeavesTheOldPNG) {
    TempFolder folder;
    save(noise(200, 200).get(), folder / "noise.tif");
    writeFile(folder / "noise.png", "old");
    {
        FileSizeLimit limit(1024);
        EXPECT_EQ(Images::writePNG(folder / "noise.tif", folder / "noise.png"), PNGResult::unwritable);
    }
    EXPECT_EQ(readFile(folder / "noise.png"), "old");
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"noise.png", "noise.tif"}));
}

TEST(Images, FolderInTheWayIsUnwritableAndKept) {
    TempFolder folder;
    save(picture(6, 4).get(), folder / "still.bmp");
    fs::create_directory(folder / "still.png");
    EXPECT_EQ(Images::writePNG(folder / "still.bmp", folder / "still.png"), PNGResult::unwritable);
    EXPECT_TRUE(fs::is_directory(folder / "still.png"));
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"still.bmp", "still.png"}));
}

TEST(Images, WrittenPNGReplacesTheOldOne) {
    TempFolder folder;
    save(picture(6, 4).get(), folder / "still.heic");
    writeFile(folder / "still.png", "old");
    EXPECT_EQ(Images::writePNG(folder / "still.heic", folder / "still.png"), PNGResult::written);
    EXPECT_TRUE(isPNG(folder / "still.png"));
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"still.heic", "still.png"}));
}
