#include "TrelkCore/Making/Pixels.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Platform/Resample.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct Plane {
    const uint8_t* from;
    size_t fromBytesPerRow;
    int fromRows;
    uint8_t* to;
    size_t toBytesPerRow;
    int toRows;
};

// Copies each row from byte offset on, as far as the source goes, and fills the rest.
void copyRows(const Plane& plane, size_t offset, size_t sourceRowLength, size_t rowLength, uint8_t fill) {
    const size_t copied = sourceRowLength > offset ? std::min(sourceRowLength - offset, rowLength) : 0;
    for (int row = 0; row < plane.toRows; ++row) {
        uint8_t* to = plane.to + size_t(row) * plane.toBytesPerRow;
        if (row >= plane.fromRows) {
            std::memset(to, fill, rowLength);
            continue;
        }
        std::memcpy(to, plane.from + size_t(row) * plane.fromBytesPerRow + offset, copied);
        std::memset(to + copied, fill, rowLength - copied);
    }
}

// An odd width's last column has a Cb,Cr pair of its own.
int chromaBytes(const Media::Picture& picture) { return (picture.width() + 1) / 2 * 2; }

} // namespace

namespace Pixels {

void scale(const Media::Picture& source, Media::Picture& destination) {
    if (int error = Media::resample(source, destination); error != 0)
        throw TrelkError("couldn't scale the picture (" + std::to_string(error) + ")");
}

void crop(const Media::Picture& source, int x, Media::Picture& destination) {
    const size_t luma = size_t(std::max(x, 0));
    const size_t chroma = luma / 2 * 2; // x / 2 samples of two bytes
    copyRows({source.luma(), source.lumaBytesPerRow(), source.height(), destination.luma(),
              destination.lumaBytesPerRow(), destination.height()},
             luma, size_t(source.width()), size_t(destination.width()), 16);
    copyRows({source.chroma(), source.chromaBytesPerRow(), (source.height() + 1) / 2, destination.chroma(),
              destination.chromaBytesPerRow(), (destination.height() + 1) / 2},
             chroma, size_t(chromaBytes(source)), size_t(chromaBytes(destination)), 128);
}

} // namespace Pixels
