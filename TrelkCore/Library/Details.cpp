#include "TrelkCore/Library/Details.h"

#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace Details {

const std::array<std::pair<std::string_view, std::string_view>, 26> codecs{{
    {"avc1", "H.264"}, {"avc3", "H.264"},
    {"hvc1", "HEVC"}, {"hev1", "HEVC"},
    {"dvh1", "HEVC (Dolby Vision)"}, {"dvhe", "HEVC (Dolby Vision)"},
    {"av01", "AV1"}, {"vp09", "VP9"}, {"vp08", "VP8"}, {"mp4v", "MPEG-4"},
    {"apco", "ProRes 422 Proxy"}, {"apcs", "ProRes 422 LT"}, {"apcn", "ProRes 422"},
    {"apch", "ProRes 422 HQ"}, {"ap4h", "ProRes 4444"}, {"ap4x", "ProRes 4444 XQ"},
    {"aprn", "ProRes RAW"}, {"aprh", "ProRes RAW HQ"},
    {"nclc", "NotchLC"},
    {"Hap1", "HAP"}, {"Hap5", "HAP Alpha"}, {"HapY", "HAP Q"}, {"HapM", "HAP Q Alpha"},
    {"jpeg", "Motion JPEG"}, {"mjpa", "Motion JPEG"},
    {"ff:vp9", "VP9"},
}};

namespace {

// A number printed with a printf format, however many digits it takes.
std::string printed(const char* format, double value) {
    std::string text(size_t(std::snprintf(nullptr, 0, format, value)), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value);
    return text;
}

std::string twoDigits(int64_t value) { return (value < 10 ? "0" : "") + std::to_string(value); }

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

std::string formatName(const Asset& asset) {
    std::string extension = MediaKinds::extension(asset.file);
    std::ranges::transform(extension, extension.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return extension == "JPG" ? "JPEG" : extension;
}

std::string setText(const Asset& asset) {
    std::string text = std::to_string(asset.parts.size()) + " parts · ";
    for (size_t i = 0; i < asset.parts.size(); ++i)
        text += (i ? " + " : "") + sizeText(asset.parts[i].w, asset.parts[i].h);
    return text;
}

std::string fpsText(double fps) { return FrameRate::label(fps) + " fps"; }

// The lines only a video with probed facts has, after its size.
void addProbed(std::vector<Line>& lines, const Asset& asset, const Facts& info) {
    if (!info.codec.empty()) lines.emplace_back("Codec", codec(info.codec) + (asset.alpha ? " with alpha" : ""));
    if (info.fps > 0) lines.emplace_back("Frame rate", fpsText(info.fps));
    if (info.duration > 0) lines.emplace_back("Duration", clock(info.duration));
}

} // namespace

std::string codec(std::string_view code) {
    const auto* row = std::ranges::find(codecs, code, [](const auto& pair) { return pair.first; });
    if (row != codecs.end()) return std::string(row->second);
    return std::string(Text::trim(code, " \t\r\n\v\f"));
}

std::string clock(double seconds) {
    // Beyond this the hours no longer fit a 64-bit count of seconds.
    constexpr double longest = 9e18;
    const double rounded = std::round(std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, longest));
    const auto whole = int64_t(rounded);
    if (whole < 3600) return std::to_string(whole / 60) + ":" + twoDigits(whole % 60);
    return std::to_string(whole / 3600) + ":" + twoDigits(whole / 60 % 60) + ":" + twoDigits(whole % 60);
}

std::optional<std::string> bitrate(int64_t bytes, double seconds) {
    if (bytes <= 0 || !(seconds > 0)) return std::nullopt;
    const double rate = double(bytes) * 8 / seconds;
    if (!std::isfinite(rate)) return std::nullopt;
    if (rate >= 1e9) return printed("%.2f Gb/s", rate / 1e9);
    if (rate >= 1e6) return printed("%.1f Mb/s", rate / 1e6);
    return printed("%.0f", std::round(rate / 1000)) + " kb/s";
}

std::vector<Line> lines(const Asset& asset, const std::optional<Facts>& info,
                        std::optional<std::chrono::system_clock::time_point> added) {
    std::vector<Line> lines;
    if (asset.isSet()) lines.emplace_back("Tiled set", setText(asset));
    if (asset.isPackage())
        lines.emplace_back("Master", sizeText(asset.master->w, asset.master->h) + " · " +
                                         std::to_string(asset.strips.size()) + " strips");
    const bool video = !asset.isStill();
    if (video && !info && asset.fps) lines.emplace_back("Frame rate", fpsText(*asset.fps));
    if (video && info) {
        if (asset.isPackage()) lines.emplace_back("Wide file", sizeText(info->w, info->h));
        else if (!asset.isSet()) lines.emplace_back("Resolution", sizeText(info->w, info->h));
        addProbed(lines, asset, *info);
    }
    if (!video) {
        lines.emplace_back("Resolution", sizeText(asset.still->w, asset.still->h));
        lines.emplace_back("Format", formatName(asset));
    }
    lines.emplace_back("File size", Text::byteCount(asset.bytes));
    if (video && info) {
        if (std::optional<std::string> rate = bitrate(asset.bytes, info->duration)) lines.emplace_back("Bitrate", *rate);
        lines.emplace_back("Audio", info->audio ? "Yes" : "None");
    }
    lines.emplace_back("Added", Text::dateTime(added.value_or(asset.modified)));
    return lines;
}

} // namespace Details
