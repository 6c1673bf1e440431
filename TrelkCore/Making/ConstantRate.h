#pragma once
#include "TrelkCore/Making/FFFrames.h"

#include <cstdint>
#include <deque>

// Pictures of any timing at one constant rate: the picture at each tick is the one on screen
// then, to the nearest tick, so pictures are repeated or left out as their times say.
class ConstantRate {
public:
    using Frame = FFFrames::Frame;

    // num/den frames a second; times come out on a clock of num ticks a second.
    ConstantRate(int64_t num, int64_t den) : num(num), den(den) {}

    // A picture at its time, after the earlier ones; gives the ticks the one before it fills.
    std::deque<Frame> add(Frame frame);
    // The ticks the last picture fills: up to one frame after its time.
    std::deque<Frame> finish();

private:
    // Whether the middle of tick n comes before the time plus a part of a frame (in halves).
    bool middleBefore(int64_t n, Media::Time time, int halves = 0) const;
    std::deque<Frame> fill(int halves);

    int64_t num;
    int64_t den;
    int64_t next = 0; // the first tick not yet given
    std::optional<Frame> held;
    Media::Time limit;
};
