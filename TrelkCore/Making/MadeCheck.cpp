#include "TrelkCore/Making/MadeCheck.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Platform/PictureCount.h"

#include <cmath>
#include <optional>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Beyond any master; a product past it is not a count.
constexpr double mostPictures = 1e15;

bool withinOne(int64_t a, int64_t b) { return a - b <= 1 && b - a <= 1; }

[[noreturn]] void notWhole(const std::string& file) { throw TrelkError("the made file is not whole · " + file); }

void requireFile(const fs::path& work, const std::string& file, LadderPlan::Size size, int64_t written) {
    Media::PictureCount counted;
    try {
        counted = Media::PictureCount::of(work / file);
    } catch (const std::runtime_error&) {
        notWhole(file);
    }
    if (counted.width != size.w || counted.height != size.h || !withinOne(counted.pictures, written)) notWhole(file);
}

// The pictures the master's length tells, on the roads where the ffmpeg program decodes it.
std::optional<int64_t> masterPictures(const LadderPlan& plan, const fs::path& master, const MasterInfo& info) {
    if (!plan.alpha && !FFDecode::handles(info.codec)) return std::nullopt;
    const std::optional<double> seconds = Media::statedPictureSeconds(master);
    if (!seconds) return std::nullopt;
    const double pictures = *seconds * info.fps;
    if (!std::isfinite(pictures) || pictures > mostPictures) return std::nullopt;
    return std::llround(pictures);
}

} // namespace

namespace MadeCheck {

void requireWhole(const LadderPlan& plan, const fs::path& work, int64_t written, const fs::path& master,
                  const MasterInfo& info) {
    requireFile(work, plan.file, plan.size, written);
    for (const LadderPlan::Strip& strip : plan.strips) requireFile(work, strip.file, plan.stripSize, written);
    const std::optional<int64_t> expected = masterPictures(plan, master, info);
    if (expected && !withinOne(written, *expected)) notWhole(plan.file);
}

} // namespace MadeCheck
