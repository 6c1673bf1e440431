#include "TrelkCore/Platform/H264Input.h"

#include "TrelkCore/Platform/MP4Writer.h"

#include <limits>

namespace Media {

namespace {

void releasePicture(void* held, uint8_t*) {
    std::unique_ptr<std::shared_ptr<Picture>> picture(static_cast<std::shared_ptr<Picture>*>(held));
}

} // namespace

H264Input::H264Input(MP4Writer& owner, AV::Codec codec, AVStream* stream)
    : owner(owner), codec(std::move(codec)), stream(stream),
      pictures(this->codec->width, this->codec->height, queueLength + 2) {}

H264Input::~H264Input() { join(); }

bool H264Input::readyForMoreData() const {
    std::lock_guard guard(lock);
    return !finished && queue.size() < queueLength && owner.writing();
}

void H264Input::waitForRoom() const {
    std::unique_lock guard(lock);
    moved.wait(guard, [&] { return queue.size() < queueLength || finished || !owner.writing(); });
}

void H264Input::append(std::shared_ptr<Picture> picture, Time time) {
    if (!picture || picture->width() != codec->width || picture->height() != codec->height) {
        owner.fail("a picture of the wrong size for the encoder");
        owner.refuse();
    }
    const std::optional<int64_t> pts = owner.streamTime(time, stream);
    std::unique_lock guard(lock);
    if (finished || !owner.writing()) owner.refuse();
    if (!pts || *pts < 0 || (lastPts && *pts <= *lastPts)) {
        guard.unlock();
        owner.fail(pts && *pts >= 0 ? "a picture's time is not after the one before"
                                    : "a picture's time is invalid or before the session start");
        owner.refuse();
    }
    moved.wait(guard, [&] { return queue.size() < queueLength || finished || !owner.writing(); });
    if (finished || !owner.writing()) owner.refuse();
    queue.push_back({std::move(picture), *pts});
    lastPts = pts;
    appendedUntil = double(*pts) * av_q2d(stream->time_base);
    moved.notify_all();
    guard.unlock();
    owner.progressed();
}

void H264Input::markFinished() {
    {
        std::lock_guard guard(lock);
        finished = true;
        appendedUntil = std::numeric_limits<double>::infinity();
    }
    moved.notify_all();
    owner.progressed();
}

void H264Input::start() {
    encoder = std::thread([this] { encodeAll(); });
}

void H264Input::wake() {
    std::lock_guard guard(lock);
    moved.notify_all();
}

void H264Input::join() {
    wake();
    joinUnlessSelf(encoder);
}

void H264Input::encodeAll() {
    while (std::optional<Queued> next = nextPicture()) {
        AV::Frame frame = frameOf(std::move(*next));
        if (!frame) return owner.fail("out of memory for the encoder");
        if (!owner.encode(codec.get(), stream, frame.get())) return;
    }
    if (owner.writing()) owner.encode(codec.get(), stream, nullptr); // drain what the encoder holds
}

// The next queued picture; none once the input is finished and empty, or the writing stopped.
std::optional<H264Input::Queued> H264Input::nextPicture() {
    std::unique_lock guard(lock);
    moved.wait(guard, [&] { return !queue.empty() || finished || !owner.writing(); });
    if (queue.empty() || !owner.writing()) {
        queue.clear();
        return std::nullopt;
    }
    Queued next = std::move(queue.front());
    queue.pop_front();
    moved.notify_all();
    return next;
}

// The picture's own memory as a frame: the encoder takes NV12 as it is, and the picture goes
// back to its pool when the encoder lets go of the frame.
AV::Frame H264Input::frameOf(Queued queued) const {
    AV::Frame frame(av_frame_alloc());
    if (!frame) return frame;
    Picture& picture = *queued.picture;
    const size_t bytes = picture.lumaBytesPerRow() * size_t(picture.height() + (picture.height() + 1) / 2);
    auto held = std::make_unique<std::shared_ptr<Picture>>(std::move(queued.picture));
    frame->buf[0] = av_buffer_create(picture.luma(), bytes, releasePicture, held.get(), AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) return nullptr;
    held.release(); // now owned by the buffer
    frame->data[0] = picture.luma();
    frame->data[1] = picture.chroma();
    frame->linesize[0] = int(picture.lumaBytesPerRow());
    frame->linesize[1] = int(picture.chromaBytesPerRow());
    frame->format = AV_PIX_FMT_NV12;
    frame->width = picture.width();
    frame->height = picture.height();
    frame->pts = av_rescale_q(queued.pts, stream->time_base, codec->time_base);
    return frame;
}

} // namespace Media
