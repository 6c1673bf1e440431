#pragma once
#include "TrelkCore/Platform/Media.h"

#include <memory>

struct AVFrame;

namespace Media {

// Puts decoded pictures into NV12 video range: a plain copy for 8-bit 4:2:0 video-range
// sources, rounding to 8 bits for deeper planar 4:2:2 and 4:2:0 ones, one libswscale pass for
// the rest. The colour matrix stays the source's, and an untagged source is taken as Rec. 709,
// as the probe describes it.
class NV12Conversion {
public:
    NV12Conversion();
    ~NV12Conversion();
    NV12Conversion(const NV12Conversion&) = delete;
    NV12Conversion& operator=(const NV12Conversion&) = delete;

    // into must have the frame's size. Throws std::runtime_error for a format libswscale
    // cannot read.
    void convert(const AVFrame& frame, Picture& into);

private:
    struct Scaling;
    void scale(const AVFrame& frame, Picture& into);

    std::unique_ptr<Scaling> scaling; // made for the first frame that needs it
};

} // namespace Media
