#pragma once
#include "TrelkCore/Platform/Media.h"

// Placing a decoded picture into an output's picture: the whole of it resampled, or a part of it
// copied 1:1 from a column on.
namespace Pixels {

// Throws TrelkError "couldn't scale the picture (N)".
void scale(const Media::Picture& source, Media::Picture& destination);
// Both planes from column x (chroma from x / 2); what lies beyond the source is video-range
// black: 16 for luma, 128 for chroma.
void crop(const Media::Picture& source, int x, Media::Picture& destination);

} // namespace Pixels
