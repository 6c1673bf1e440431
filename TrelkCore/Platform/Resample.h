#pragma once
#include "TrelkCore/Platform/Media.h"

namespace Media {

// Resamples the whole of one NV12 picture into another of any size with a high-quality filter,
// luma and interleaved chroma alike. Returns 0, or a negative error number when it cannot.
// Contexts are kept per thread and per pair of sizes, so a making that scales every picture
// builds its filter once.
int resample(const Picture& source, Picture& destination);

} // namespace Media
