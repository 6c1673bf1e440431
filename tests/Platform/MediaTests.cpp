#include "TrelkCore/Platform/Media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

TEST(Picture, AlignsEveryRowAndPutsChromaAfterTheLumaRows) {
    struct Case {
        int w, h;
        size_t bytesPerRow;
    };
    for (const Case& c :
         {Case{1, 1, 64}, Case{64, 36, 64}, Case{65, 37, 128}, Case{3840, 2160, 3840}, Case{3842, 1082, 3904}}) {
        SCOPED_TRACE(std::to_string(c.w) + " × " + std::to_string(c.h));
        Media::Picture picture(c.w, c.h);
        EXPECT_EQ(picture.width(), c.w);
        EXPECT_EQ(picture.height(), c.h);
        EXPECT_EQ(picture.lumaBytesPerRow(), c.bytesPerRow);
        EXPECT_EQ(picture.chromaBytesPerRow(), c.bytesPerRow);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(picture.luma()) % Media::Picture::rowAlignment, 0u);
        EXPECT_EQ(picture.chroma(), picture.luma() + c.bytesPerRow * size_t(c.h));
        // The chroma plane holds h / 2 rows, rounded up.
        std::memset(picture.luma(), 0x80, c.bytesPerRow * size_t(c.h + (c.h + 1) / 2));
    }
}

TEST(PicturePool, HandsAReleasedPictureOutAgain) {
    Media::PicturePool pool(64, 36);
    std::shared_ptr<Media::Picture> first = pool.take();
    const Media::Picture* address = first.get();
    first.reset();
    std::shared_ptr<Media::Picture> again = pool.take();
    EXPECT_EQ(again.get(), address);
    EXPECT_EQ(again->width(), 64);
    EXPECT_EQ(again->height(), 36);

    std::shared_ptr<Media::Picture> second = pool.take(); // the first is still held
    EXPECT_NE(second.get(), again.get());
}

TEST(PicturePool, KeepsAtMostItsShareOfIdlePictures) {
    Media::PicturePool pool(16, 16, 1);
    std::shared_ptr<Media::Picture> a = pool.take(), b = pool.take();
    const Media::Picture* kept = a.get();
    a.reset();
    b.reset(); // no room on the shelf: freed
    EXPECT_EQ(pool.take().get(), kept);
}

TEST(PicturePool, PicturesMayOutliveThePool) {
    std::shared_ptr<Media::Picture> survivor;
    {
        Media::PicturePool pool(64, 36);
        survivor = pool.take();
        pool.take(); // idle on the shelf that goes with the pool
    }
    const size_t bytes = survivor->lumaBytesPerRow() * (36 + 18);
    std::memset(survivor->luma(), 16, bytes);
    // Memory freed with its pool would be the first handed to the next picture of its size.
    Media::PicturePool next(64, 36);
    std::shared_ptr<Media::Picture> other = next.take();
    std::memset(other->luma(), 235, bytes);
    EXPECT_NE(other->luma(), survivor->luma());
    EXPECT_TRUE(std::all_of(survivor->luma(), survivor->luma() + bytes, [](uint8_t byte) { return byte == 16; }));
    EXPECT_EQ(survivor->width(), 64);
}

} // namespace
