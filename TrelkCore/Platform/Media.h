#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Media {

// A media time: value / timescale seconds.
struct Time {
    int64_t value = 0;
    int32_t timescale = 1;
    bool operator==(const Time&) const = default;
};

// An 8-bit 4:2:0 bi-planar video-range picture (NV12): a luma plane of height rows and an
// interleaved Cb,Cr plane of height / 2 rows, both width bytes of content per row, every row
// starting on an aligned boundary; the chroma plane follows the luma plane's last row.
class Picture {
public:
    static constexpr size_t rowAlignment = 64;

    // Throws std::bad_alloc when there is no memory for it.
    Picture(int width, int height);

    int width() const { return w; }
    int height() const { return h; }
    size_t lumaBytesPerRow() const { return stride; }
    size_t chromaBytesPerRow() const { return stride; }
    uint8_t* luma() { return storage.get(); }
    uint8_t* chroma() { return storage.get() + stride * size_t(h); }
    const uint8_t* luma() const { return storage.get(); }
    const uint8_t* chroma() const { return storage.get() + stride * size_t(h); }

private:
    struct Free {
        void operator()(uint8_t* bytes) const;
    };
    int w;
    int h;
    size_t stride;
    std::unique_ptr<uint8_t[], Free> storage;
};

// Pictures of one size, handed out again once their last user lets go of them rather than
// allocated anew for every frame.
class PicturePool {
public:
    // At most `kept` idle pictures are held for reuse.
    PicturePool(int width, int height, size_t kept = 8);

    // Throws std::bad_alloc when a new picture cannot be made.
    std::shared_ptr<Picture> take();

private:
    struct Shelf {
        std::mutex lock; // guards idle
        std::vector<std::unique_ptr<Picture>> idle;
        size_t kept;
    };
    int width;
    int height;
    std::shared_ptr<Shelf> shelf;
};

} // namespace Media
