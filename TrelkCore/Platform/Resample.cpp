#include "TrelkCore/Platform/Resample.h"

#include "TrelkCore/Platform/AVHolders.h"

#include <map>
#include <tuple>

namespace Media {

namespace {

using Context = AV::Scaler;
using Sizes = std::tuple<int, int, int, int>;

// A making scales to one or two sizes; the map stays tiny.
SwsContext* contextFor(const Sizes& sizes) {
    thread_local std::map<Sizes, Context> contexts;
    auto found = contexts.find(sizes);
    if (found != contexts.end()) return found->second.get();
    auto [sw, sh, dw, dh] = sizes;
    Context made(sws_getContext(sw, sh, AV_PIX_FMT_NV12, dw, dh, AV_PIX_FMT_NV12, SWS_LANCZOS | SWS_ACCURATE_RND,
                                nullptr, nullptr, nullptr));
    if (!made) return nullptr;
    return contexts.emplace(sizes, std::move(made)).first->second.get();
}

} // namespace

int resample(const Picture& source, Picture& destination) {
    if (source.width() < 1 || source.height() < 1 || destination.width() < 1 || destination.height() < 1)
        return AVERROR(EINVAL);
    SwsContext* context = contextFor({source.width(), source.height(), destination.width(), destination.height()});
    if (!context) return AVERROR(ENOMEM);
    const uint8_t* const from[] = {source.luma(), source.chroma(), nullptr, nullptr};
    const int fromStrides[] = {int(source.lumaBytesPerRow()), int(source.chromaBytesPerRow()), 0, 0};
    uint8_t* const to[] = {destination.luma(), destination.chroma(), nullptr, nullptr};
    const int toStrides[] = {int(destination.lumaBytesPerRow()), int(destination.chromaBytesPerRow()), 0, 0};
    int rows = sws_scale(context, from, fromStrides, 0, source.height(), to, toStrides);
    return rows == destination.height() ? 0 : (rows < 0 ? rows : AVERROR(EIO));
}

} // namespace Media
