#pragma once
#include "TrelkCore/Platform/MediaReader.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

// The master's sound cut to its pictures: it starts with the first picture, silence filling in
// where the sound starts later, and ends with the last, padded with silence where it ends sooner.
// The pictures' length may be learnt while the sound is taken, from another thread.
class SoundFit {
public:
    static constexpr int rate = Media::Reader::sampleRate;
    static constexpr int channels = Media::Reader::channels;

    // start: the first picture's time on the sound's clock; length: the pictures' in samples
    // at 48 kHz, none when unknown (the sound is then taken whole).
    SoundFit(Media::Time start, std::optional<int64_t> length);

    // The samples to append for the next piece of sound, in order.
    std::vector<int16_t> take(const Media::AudioSample& sample);
    // Silence up to the pictures' end, at most `most` samples; empty once there, or when
    // their length is unknown.
    std::vector<int16_t> padding(int64_t most);
    // The pictures end here, as the last of them was placed.
    void setLength(int64_t samples) { length = samples; }
    bool full() const;

private:
    int64_t room() const; // samples that may still be placed
    std::vector<int16_t> silence(int64_t count);

    int64_t start; // at 48 kHz
    std::atomic<int64_t> length; // below zero when unknown
    int64_t placed = 0;
    bool begun = false;
};
