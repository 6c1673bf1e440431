#pragma once
#include "TrelkCore/Making/Ladder.h"

#include <cstdint>
#include <filesystem>

// Whether what an engine made is all there before it is called made: a file cut short, or a
// master the decoder read only part of, must never pass for a finished rendition.
namespace MadeCheck {

// Throws TrelkError("the made file is not whole · " + name) unless every file of the plan in
// `work` opens with its planned picture size and `written` pictures, give or take one; and, when
// the ffmpeg program decodes the master, which ends without a failure on a master cut short,
// unless `written` is within one of the pictures the master's own length tells.
void requireWhole(const LadderPlan& plan, const std::filesystem::path& work, int64_t written,
                  const std::filesystem::path& master, const MasterInfo& info);

} // namespace MadeCheck
