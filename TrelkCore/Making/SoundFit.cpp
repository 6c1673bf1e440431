#include "TrelkCore/Making/SoundFit.h"

#include <algorithm>
#include <limits>

namespace {

int64_t at48k(Media::Time time) {
    if (time.timescale <= 0) return 0;
    return int64_t(__int128(time.value) * SoundFit::rate / time.timescale);
}

} // namespace

SoundFit::SoundFit(Media::Time start, std::optional<int64_t> length)
    : start(at48k(start)), length(length ? std::max<int64_t>(*length, 0) : -1) {}

int64_t SoundFit::room() const {
    const int64_t end = length.load();
    return end < 0 ? std::numeric_limits<int64_t>::max() : std::max<int64_t>(end - placed, 0);
}

bool SoundFit::full() const { return room() == 0; }

std::vector<int16_t> SoundFit::take(const Media::AudioSample& sample) {
    std::vector<int16_t> out;
    int64_t skip = 0;
    if (!begun) {
        // The first piece places the sound against the pictures; later ones follow on.
        const int64_t offset = at48k(sample.presentationTime) - start;
        if (offset + int64_t(sample.frameCount()) <= 0) return out; // all of it before the first picture
        begun = true;
        skip = std::max<int64_t>(-offset, 0);
        out = silence(std::max<int64_t>(offset, 0));
    }
    const int64_t count = std::min(int64_t(sample.frameCount()) - skip, room());
    if (count <= 0) return out;
    const auto from = sample.samples.begin() + skip * channels;
    out.insert(out.end(), from, from + count * channels);
    placed += count;
    return out;
}

std::vector<int16_t> SoundFit::padding(int64_t most) {
    if (length.load() < 0) return {};
    begun = true;
    return silence(most);
}

std::vector<int16_t> SoundFit::silence(int64_t count) {
    count = std::min(count, room());
    if (count <= 0) return {};
    placed += count;
    return std::vector<int16_t>(size_t(count) * channels, 0);
}
