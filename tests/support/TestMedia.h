#pragma once
#include <filesystem>
#include <string>
#include <vector>

// Tiny masters made by the real ffmpeg program: a few pictures of its test pattern.
namespace TestMedia {

// An H.264 MP4 (or whatever the codec and the extension of out ask for) of w × h at 25 pictures
// per second.
std::filesystem::path video(const std::filesystem::path& out, int w, int h,
                            const std::vector<std::string>& codec = {"-c:v", "libx264", "-pix_fmt", "yuv420p"},
                            int pictures = 4);
// One picture of w × h, in the format the extension of out names.
std::filesystem::path still(const std::filesystem::path& out, int w, int h);

} // namespace TestMedia
