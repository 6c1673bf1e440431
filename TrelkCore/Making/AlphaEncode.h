#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Making/LadderEngine.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The whole ladder of a master with alpha as VP9 WebM files, made by one run of ffmpeg.
namespace AlphaEncode {

using Progress = LadderEngine::Progress;
using Cancelled = LadderEngine::Cancelled;

// Codecs that may carry alpha, and those that always do.
inline const std::set<std::string, std::less<>> candidates{"ap4h", "ap4x", "Hap5", "HapM", "Hap7",
                                                            "png",  "rle",  "DXD3", "DXDI"};
inline const std::set<std::string, std::less<>> alphaCodes{"Hap5", "HapM", "Hap7"};
inline constexpr std::string_view encoderName = "FFmpeg libvpx VP9 with alpha · vorlane Trelk";

// Writes the plan's files into `into`; blocks until ffmpeg has ended and returns the number of
// pictures it wrote into each. Throws TrelkError, or CancellationError once cancelled() says so;
// either way none of the plan's files is left.
int64_t make(const std::filesystem::path& master, const MasterInfo& info, const LadderPlan& plan,
             const std::filesystem::path& into, const Progress& progress, const Cancelled& cancelled);

std::vector<std::string> arguments(const std::filesystem::path& master, const std::filesystem::path& into,
                                   const LadderPlan& plan, const MasterInfo& info);

// Runs ffmpeg, following its progress and stopping it within about 100 ms of a cancel; returns
// the pictures it last said it had written.
int64_t run(const std::filesystem::path& ffmpeg, const std::vector<std::string>& arguments, double duration,
            const Progress& progress, const Cancelled& cancelled);

// The fraction done that one "-progress" line tells, for a master of that duration.
std::optional<double> fraction(std::string_view line, double duration);
// The pictures written so far that one "-progress" line tells.
std::optional<int64_t> pictures(std::string_view line);

} // namespace AlphaEncode
