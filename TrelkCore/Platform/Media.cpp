#include "TrelkCore/Platform/Media.h"

#include <cstdlib>
#include <new>

namespace Media {

void Picture::Free::operator()(uint8_t* bytes) const { std::free(bytes); }

Picture::Picture(int width, int height)
    : w(width), h(height), stride((size_t(width) + rowAlignment - 1) / rowAlignment * rowAlignment) {
    const size_t rows = size_t(height) + size_t(height + 1) / 2;
    const size_t bytes = stride * rows;
    storage.reset(static_cast<uint8_t*>(std::aligned_alloc(rowAlignment, bytes == 0 ? rowAlignment : bytes)));
    if (!storage) throw std::bad_alloc();
}

PicturePool::PicturePool(int width, int height, size_t kept)
    : width(width), height(height), shelf(std::make_shared<Shelf>()) {
    shelf->kept = kept;
}

std::shared_ptr<Picture> PicturePool::take() {
    std::unique_ptr<Picture> picture;
    {
        std::lock_guard guard(shelf->lock);
        if (!shelf->idle.empty()) {
            picture = std::move(shelf->idle.back());
            shelf->idle.pop_back();
        }
    }
    if (!picture) picture = std::make_unique<Picture>(width, height);
    // The picture goes back on the shelf when its last user is done, if the pool is still there.
    std::weak_ptr<Shelf> home = shelf;
    return std::shared_ptr<Picture>(picture.release(), [home](Picture* used) {
        std::unique_ptr<Picture> owned(used);
        if (std::shared_ptr<Shelf> open = home.lock()) {
            std::lock_guard guard(open->lock);
            if (open->idle.size() < open->kept) open->idle.push_back(std::move(owned));
        }
    });
}

} // namespace Media
