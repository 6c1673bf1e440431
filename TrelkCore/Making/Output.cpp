#include "TrelkCore/Making/Output.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/Pixels.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr double lowestBitRate = 2'000'000;
constexpr double highestBitRate = 240'000'000;

Media::VideoSettings settingsOf(int w, int h, double bitsPerPixel, const MasterInfo& info, Output::Encoder encoder) {
    Media::VideoSettings settings;
    settings.width = w;
    settings.height = h;
    settings.primaries = info.color.primaries;
    settings.transfer = info.color.transfer;
    settings.matrix = info.color.matrix;
    settings.averageBitRate = Output::averageBitRate(info.fps, w, h, bitsPerPixel);
    settings.keyFrameInterval = Output::keyFrameInterval(info.fps);
    settings.expectedFrameRate = settings.keyFrameInterval;
    settings.threads = encoder.threads;
    settings.timescale = encoder.timescale;
    return settings;
}

} // namespace

Output::Output(const fs::path& url, int w, int h, int x, bool scale, double bitsPerPixel, const MasterInfo& info,
               Encoder encoder)
    : file(Media::Writer::create(url)), width(w), height(h), x(x), scale(scale) {
    try {
        pictures = &file->addVideo(settingsOf(w, h, bitsPerPixel, info, encoder));
    } catch (const std::runtime_error& refusal) {
        throw TrelkError(refusal.what());
    }
}

int Output::keyFrameInterval(double fps) {
    const double rounded = std::round(fps);
    // Absurd rates still give a usable interval.
    return rounded >= 1 ? int(std::min(rounded, 1000.0)) : 1;
}

int64_t Output::averageBitRate(double fps, int w, int h, double bitsPerPixel) {
    const double rate = fps * double(w) * double(h) * bitsPerPixel;
    if (!std::isfinite(rate)) return int64_t(fps > 0 ? highestBitRate : lowestBitRate);
    return int64_t(std::clamp(rate, lowestBitRate, highestBitRate));
}

void Output::addAudio() {
    try {
        sound = &file->addAudio();
    } catch (const std::runtime_error&) {
        sound = nullptr; // the pictures matter more than their sound
    }
}

std::shared_ptr<Media::Picture> Output::frame(const std::shared_ptr<Media::Picture>& source) {
    // A file of the master as it is encodes the decoded picture itself: no copy, no picture more.
    if (!scale && x == 0 && source->width() == width && source->height() == height) return source;
    std::shared_ptr<Media::Picture> picture;
    try {
        picture = pictures->pool().take();
    } catch (const std::bad_alloc&) {
        throw TrelkError("out of memory for frames");
    }
    if (scale)
        Pixels::scale(*source, *picture);
    else
        Pixels::crop(*source, x, *picture);
    return picture;
}
