#pragma once
#include "TrelkCore/Making/PictureFix.h"
#include "TrelkCore/MediaKinds.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The facts of a master as an engine probed them.
struct MasterInfo {
    struct Color {
        std::string primaries;
        std::string transfer;
        std::string matrix;

        static Color bt709();
        bool operator==(const Color&) const = default;
    };

    int64_t w = 0;
    int64_t h = 0;
    double fps = 0;
    std::string fpsText; // as the probe found it: "30000/1001", "25"
    int64_t frames = 0;
    double duration = 0; // seconds
    std::string codec;   // a four-character code, or ffPrefix and FFmpeg's codec name
    bool audio = false;
    Color color;
    bool alpha = false;
    // Not told to peers: what "usable as is" needs to know of the pictures, as FFmpeg names them.
    std::string profile;     // "High", "Constrained Baseline"; empty when unknown
    std::string pixelFormat; // "yuv420p"; empty when unknown
    // Not on the wire: what the making does to the pictures, and where they start in the file
    // (seconds after its earliest stream), for sound taken out of the file on its own.
    PictureFix picture;
    double pictureStart = 0;

    static constexpr std::string_view ffPrefix = "ff:";

    // "h264", "hevc", "prores" for their four-character codes; the codec itself otherwise.
    std::string codecName() const;
    // Whether the ffmpeg program probed the master, which the platform could not read.
    bool probedByFFmpeg() const { return codec.starts_with(ffPrefix); }
    // FFmpeg's name of the codec when it probed the master; the codec itself otherwise.
    std::string_view ffCodecName() const {
        return probedByFFmpeg() ? std::string_view(codec).substr(ffPrefix.size()) : std::string_view(codec);
    }
    // Whether all three colour tags are standard dynamic range.
    static bool sdr(std::string_view primaries, std::string_view transfer, std::string_view matrix);
    // An object whose keys are the field names.
    nlohmann::json json() const;
    // The facts json() wrote; none for anything else.
    static std::optional<MasterInfo> fromJSON(const nlohmann::json& value);

    bool operator==(const MasterInfo&) const = default;
};

// What is made from one master: one file up to 3840 wide, or a wide file and overlapping strips.
struct LadderPlan {
    using Size = MediaKinds::Size;
    using Strip = MediaKinds::Strip;
    enum class Alpha { no, yes };

    static constexpr int64_t wideWidth = 3840;
    static constexpr int64_t alphaMax = 4096;

    std::string base;
    Size master;
    std::string file;
    Size size;
    std::vector<Strip> strips;
    Size stripSize;
    int64_t overlapMin = 0;
    bool alpha = false;

    bool isPackage() const { return master.w > wideWidth; }
    std::string manifest() const { return base + ".vorlane.json"; }
    // Every file the plan makes: the main file, then the strips left to right.
    std::vector<std::string> files() const;

    static LadderPlan plan(std::string base, int64_t w, int64_t h, int64_t stripWidth, int64_t overlap, Alpha alpha);

    // The package manifest, pretty-printed with sorted keys; empty when it cannot be written.
    std::string manifestData(std::string_view name, const MasterInfo& info,
                             const std::function<int64_t(const std::string& file)>& bytes, std::string_view encoder,
                             std::chrono::system_clock::time_point now) const;

    bool operator==(const LadderPlan&) const = default;
};

namespace Ladder {

// A stem for every made file that cannot be mistaken for one of them.
std::string base(std::string_view masterFileName);
// Whether the master goes into the library as it is.
bool usableAsIs(const MasterInfo& info, std::string_view extension);

} // namespace Ladder
