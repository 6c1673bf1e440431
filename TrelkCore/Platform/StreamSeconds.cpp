#include "TrelkCore/Platform/StreamSeconds.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <cmath>

namespace Media {
namespace {

// Longer than any master: a stated length beyond it is not believed.
constexpr double longestSeconds = 1e9;

std::optional<double> believable(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > longestSeconds) return std::nullopt;
    return seconds;
}

double secondsOf(int64_t value, AVRational base) {
    return value == AV_NOPTS_VALUE || base.den <= 0 ? std::nan("") : double(value) * av_q2d(base);
}

// Matroska keeps a stream's length only as a tag: the time its last frame ends.
std::optional<double> taggedSeconds(const AVStream& stream) {
    const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "DURATION", nullptr, 0);
    int64_t micros = 0;
    if (!tag || av_parse_time(&micros, tag->value, 1) < 0) return std::nullopt;
    const double start = stream.start_time == AV_NOPTS_VALUE ? 0 : secondsOf(stream.start_time, stream.time_base);
    return believable(double(micros) / AV_TIME_BASE - start);
}

} // namespace

std::optional<double> streamSeconds(const AVStream& stream) {
    if (std::optional<double> own = believable(secondsOf(stream.duration, stream.time_base))) return own;
    return taggedSeconds(stream);
}

std::optional<double> containerSeconds(const AVFormatContext& input) {
    return believable(secondsOf(input.duration, AV_TIME_BASE_Q));
}

} // namespace Media
