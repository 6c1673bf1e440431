#include "TrelkCore/Making/FFFrames.h"

#include "TrelkCore/Making/FFDecode.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Platform/Files.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

int64_t even(int64_t n) { return n + n % 2; }

Process startDecoder(const std::filesystem::path& ffmpeg, const std::filesystem::path& master, const MasterInfo& info) {
    try {
        return Process::start(ffmpeg, FFDecode::arguments(master, info), Process::Stream::pipe, Process::Stream::pipe);
    } catch (const std::system_error&) {
        throw TrelkError("couldn't start the decoder for this codec");
    }
}

void copyRows(const uint8_t* from, size_t width, size_t rows, uint8_t* to, size_t bytesPerRow) {
    for (size_t row = 0; row < rows; ++row) std::memcpy(to + row * bytesPerRow, from + row * width, width);
}

} // namespace

FFFrames::FFFrames(const std::filesystem::path& ffmpeg, const std::filesystem::path& master, const MasterInfo& info)
    : w(even(info.w)), h(even(info.h)), process(startDecoder(ffmpeg, master, info)), errors(process.error()),
      pool(int(this->w), int(this->h)) {
    std::tie(num, den) = FrameRate::fraction(info.fpsText, info.fps);
    // A bigger pipe lets the decoder run ahead by more than a sliver of a picture.
    ::fcntl(process.output(), F_SETPIPE_SZ, 1 << 20);
}

FFFrames::~FFFrames() {
    process.kill();
    process.wait();
    errors.finish(); // before the pipe it reads is closed with the process
}

std::optional<FFFrames::Frame> FFFrames::next() {
    const size_t size = size_t(w) * size_t(h) * 3 / 2;
    std::shared_ptr<Media::Picture> picture;
    try {
        picture = pool.take();
    } catch (const std::bad_alloc&) {
        throw TrelkError("out of memory for frames");
    }
    // When the picture's rows need no padding, its planes lie as the pipe sends them: read in place.
    const bool inPlace = picture->lumaBytesPerRow() == size_t(w);
    if (!inPlace) buffer.resize(size);
    ssize_t arrived = Files::readFully(process.output(), inPlace ? picture->luma() : buffer.data(), size);
    if (arrived < 0) throw std::system_error(errno, std::generic_category(), "read the decoder's pictures");
    if (arrived == 0) return std::nullopt;
    if (size_t(arrived) < size)
        throw TrelkError("couldn't read the master: the decoder stopped part way through a frame");
    if (!inPlace) {
        copyRows(buffer.data(), size_t(w), size_t(h), picture->luma(), picture->lumaBytesPerRow());
        copyRows(buffer.data() + size_t(w * h), size_t(w), size_t(h / 2), picture->chroma(),
                 picture->chromaBytesPerRow());
    }
    const Media::Time time{den * count, timescale()};
    ++count;
    return Frame{std::move(picture), time};
}

void FFFrames::finish() {
    Process::Exit exit = process.wait();
    errors.finish();
    if (exit.kind == Process::Exit::Kind::exited && exit.code != 0) {
        std::string reason = why();
        throw TrelkError("couldn't read the master" + (reason.empty() ? "" : ": " + reason));
    }
}

std::string FFFrames::why() const { return errors.lastLine(); }
