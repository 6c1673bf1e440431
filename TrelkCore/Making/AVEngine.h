#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Making/LadderEngine.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The engine of the service: decodes through the media libraries (or the ffmpeg program for
// what they cannot read) and encodes H.264 and AAC MP4 files; alpha is left to AlphaEncode.
class AVEngine : public LadderEngine {
public:
    static constexpr std::string_view encoderName = "x264 H.264 · vorlane Trelk";

    MasterInfo probe(const std::filesystem::path& master) override;
    int64_t make(const std::filesystem::path& master, const MasterInfo& info, const LadderPlan& plan,
                 const std::filesystem::path& into, const Progress& progress, const Cancelled& cancelled) override;

    // The facts as the media libraries read them. Throws TrelkError or their own error.
    static MasterInfo avProbe(const std::filesystem::path& master);
    // The four bytes as text, most significant first and trimmed; the number when not ASCII.
    static std::string fourcc(uint32_t code);
};
