#pragma once
#include "TrelkCore/Platform/AVHolders.h"

#include <optional>

namespace Media {

// How long one stream lasts as its container states it: the stream's own duration, or, in
// Matroska, the time its last frame ends less the time it starts. None when the container states
// neither for it, or states a length no master could have.
std::optional<double> streamSeconds(const AVStream& stream);
// How long the whole file lasts as its container states it: its longest stream, as a rule.
std::optional<double> containerSeconds(const AVFormatContext& input);

} // namespace Media
