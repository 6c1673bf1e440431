#include "TrelkCore/Making/Pixels.h"

#include "TrelkCore/Error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using Media::Picture;

// Every luma sample set to its column and row (so a copy shows where it came from), chroma to a
// flat colour.
Picture pattern(int w, int h) {
    Picture picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture.luma()[size_t(y) * picture.lumaBytesPerRow() + size_t(x)] = uint8_t(x + 3 * y);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w; x += 2) {
            uint8_t* pair = picture.chroma() + size_t(y) * picture.chromaBytesPerRow() + size_t(x);
            pair[0] = uint8_t(100 + x / 2);
            pair[1] = 200;
        }
    return picture;
}

Picture flat(int w, int h, uint8_t y, uint8_t cb, uint8_t cr) {
    Picture picture(w, h);
    for (int row = 0; row < h; ++row) std::fill_n(picture.luma() + size_t(row) * picture.lumaBytesPerRow(), w, y);
    for (int row = 0; row < h / 2; ++row)
        for (int x = 0; x < w; x += 2) {
            picture.chroma()[size_t(row) * picture.chromaBytesPerRow() + size_t(x)] = cb;
            picture.chroma()[size_t(row) * picture.chromaBytesPerRow() + size_t(x) + 1] = cr;
        }
    return picture;
}

uint8_t lumaAt(const Picture& p, int x, int y) { return p.luma()[size_t(y) * p.lumaBytesPerRow() + size_t(x)]; }
uint8_t chromaAt(const Picture& p, int pair, int y, int which) {
    return p.chroma()[size_t(y) * p.chromaBytesPerRow() + size_t(2 * pair + which)];
}

TEST(PixelsCrop, CopiesFromTheColumnOnAndBothPlanesAgree) {
    const Picture source = pattern(16, 8);
    Picture strip(6, 8);
    Pixels::crop(source, 4, strip);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(lumaAt(strip, x, y), lumaAt(source, x + 4, y));
    EXPECT_EQ(chromaAt(strip, 0, 0, 0), 100 + 2) << "chroma starts at pair x / 2";
    EXPECT_EQ(chromaAt(strip, 0, 0, 1), 200);
}

TEST(PixelsCrop, WhatLiesBeyondTheSourceIsVideoRangeBlack) {
    const Picture source = pattern(10, 4);
    Picture strip(8, 6); // reaches past the right edge and below the bottom
    Pixels::crop(source, 6, strip);
    EXPECT_EQ(lumaAt(strip, 3, 0), lumaAt(source, 9, 0));
    EXPECT_EQ(lumaAt(strip, 4, 0), 16);
    EXPECT_EQ(lumaAt(strip, 0, 4), 16) << "rows below the source";
    EXPECT_EQ(chromaAt(strip, 1, 0, 0), 100 + 4);
    EXPECT_EQ(chromaAt(strip, 2, 0, 0), 128);
    EXPECT_EQ(chromaAt(strip, 2, 0, 1), 128);
    EXPECT_EQ(chromaAt(strip, 0, 2, 1), 128);
}

TEST(PixelsCrop, AnOddSourceKeepsTheColourOfItsLastColumn) {
    const Picture source = pattern(9, 4);
    Picture strip(6, 4);
    Pixels::crop(source, 4, strip);
    EXPECT_EQ(lumaAt(strip, 4, 0), lumaAt(source, 8, 0));
    EXPECT_EQ(chromaAt(strip, 2, 0, 0), 100 + 4) << "the pair of column 8";
    EXPECT_EQ(lumaAt(strip, 5, 0), 16);
}

TEST(PixelsCrop, AColumnPastTheSourceGivesAllBlack) {
    const Picture source = pattern(8, 4);
    Picture strip(4, 4);
    Pixels::crop(source, 20, strip);
    EXPECT_EQ(lumaAt(strip, 0, 0), 16);
    EXPECT_EQ(chromaAt(strip, 1, 1, 1), 128);
}

TEST(PixelsScale, KeepsAFlatColourAndFillsTheWholeDestination) {
    const Picture source = flat(384, 216, 81, 90, 240);
    Picture wide(192, 108);
    Pixels::scale(source, wide);
    for (int y : {0, 53, 107})
        for (int x : {0, 95, 191}) EXPECT_NEAR(lumaAt(wide, x, y), 81, 1) << x << "," << y;
    EXPECT_NEAR(chromaAt(wide, 95, 53, 0), 90, 1);
    EXPECT_NEAR(chromaAt(wide, 95, 53, 1), 240, 1);
}

TEST(PixelsScale, AnEmptyPictureIsAFailureWithItsNumber) {
    const Picture source(0, 0);
    Picture wide(64, 36);
    EXPECT_THAT([&] { Pixels::scale(source, wide); },
                testing::ThrowsMessage<TrelkError>(testing::StartsWith("couldn't scale the picture (")));
}

} // namespace
