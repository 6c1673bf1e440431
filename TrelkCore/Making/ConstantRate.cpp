#include "TrelkCore/Making/ConstantRate.h"

bool ConstantRate::middleBefore(int64_t n, Media::Time time, int halves) const {
    // (n + ½)·den/num < time + halves·den/(2·num), in whole numbers.
    const __int128 tick = __int128(2 * n + 1 - halves) * den * time.timescale;
    return tick < __int128(2) * time.value * num;
}

std::deque<ConstantRate::Frame> ConstantRate::fill(int halves) {
    std::deque<Frame> ticks;
    if (!held) return ticks;
    while (middleBefore(next, limit, halves)) {
        ticks.push_back(Frame{held->picture, Media::Time{next * den, int32_t(num)}});
        ++next;
    }
    return ticks;
}

std::deque<ConstantRate::Frame> ConstantRate::add(Frame frame) {
    limit = frame.time;
    std::deque<Frame> ticks = fill(0);
    held = std::move(frame);
    return ticks;
}

std::deque<ConstantRate::Frame> ConstantRate::finish() {
    if (!held) return {};
    limit = held->time;
    std::deque<Frame> ticks = fill(2);
    held.reset();
    return ticks;
}
