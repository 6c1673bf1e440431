#pragma once
#include "TrelkCore/Making/Ladder.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The FFmpeg programs as child processes: facts of masters the platform cannot read, decoded
// pictures, sound as WAV, and whether alpha video can be made.
namespace FFDecode {

// Codecs the platform opens but cannot decode.
inline const std::set<std::string, std::less<>> codecs{"nclc", "Hap1", "Hap5", "HapY", "HapM", "HapA",
                                                        "Hap7", "DXD3", "DXDI", "AVdn", "AVdh", "CFHD"};

// TRELK_FFMPEG when set, else the ffmpeg beside this program; none unless it is executable.
std::optional<std::filesystem::path> path();
// TRELK_FFPROBE when set, else the ffprobe beside ffmpeg.
std::optional<std::filesystem::path> probePath();

bool handles(std::string_view codec);
MasterInfo probe(const std::filesystem::path& master);
// The facts in ffprobe's JSON output. Throws TrelkError.
MasterInfo info(std::string_view probeOutput);
bool alphaFormat(std::string_view pixelFormat);
std::optional<bool> alphaOf(const std::filesystem::path& master);
bool canAlpha();
// The first sound as 48 kHz stereo WAV in `into`, from the start of the file's earliest stream:
// silence comes first where the sound starts later than that.
std::optional<std::filesystem::path> soundAsWAV(const std::filesystem::path& master,
                                                const std::filesystem::path& into);

// The decoder's arguments: pictures of the master's shown size, upright, progressive and in
// Rec. 709 standard range, at its nominal rate from zero, as NV12 of even sides.
std::vector<std::string> arguments(const std::filesystem::path& master, const MasterInfo& info);

} // namespace FFDecode
