// Master facts, what is made from a master, and the manifest of a package.
#include "TrelkCore/Making/Ladder.h"

#include "TrelkCore/JSONField.h"

#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <initializer_list>

using json = nlohmann::json;

namespace {

constexpr std::string_view bt709Tag = "ITU_R_709_2";
// The probe refuses larger pictures; the arithmetic of a plan stays far from overflow below it.
constexpr int64_t largestSide = int64_t(1) << 20;
// A master that goes in as it is: no wider or taller than 3840 and no more pixels than 4096 × 2304.
constexpr int64_t largestAsIsSide = 3840;
constexpr int64_t largestAsIsArea = int64_t(4096) * 2304;
constexpr size_t stripDigits = 5;

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> members) {
    return std::ranges::find(members, value) != members.end();
}

int64_t evenDown(int64_t n) { return n / 2 * 2; }
int64_t evenUp(int64_t n) { return (n + 1) / 2 * 2; }

// What browsers decode of H.264: 8-bit 4:2:0 pictures in the Baseline, Main or High profile.
bool browsersDecode(const MasterInfo& info) {
    return info.codecName() == "h264" && isOneOf(info.profile, {"Baseline", "Constrained Baseline", "Main", "High"}) &&
           isOneOf(info.pixelFormat, {"yuv420p", "yuvj420p"});
}

std::string replacingAll(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string zeroPadded(int64_t value, size_t digits) {
    std::string text = std::to_string(value);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

std::string stripFile(const std::string& base, int64_t x, int64_t w, std::string_view extension) {
    return base + ".strip-x" + zeroPadded(x, stripDigits) + "-w" + std::to_string(w) + std::string(extension);
}

// Strips of width sw spread evenly from 0 to the right edge w, step apart at most. Strips start
// on even columns, so an odd master is spread over one column more: its last column is in a strip.
std::vector<LadderPlan::Strip> spreadStrips(const std::string& base, int64_t w, int64_t sw, int64_t ov,
                                            std::string_view extension) {
    const int64_t step = sw - ov;
    const int64_t count = (w - ov + step - 1) / step; // at least 1, as w - ov > 0
    std::vector<LadderPlan::Strip> result;
    result.reserve(size_t(count));
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = count == 1 ? 0 : evenDown((w - sw) * i / (count - 1));
        // Rounding x to even can land two neighbours on one place when the step is tiny: one strip.
        if (!result.empty() && result.back().x == x) continue;
        result.push_back({stripFile(base, x, sw, extension), x, sw});
    }
    return result;
}

json masterObject(std::string_view name, LadderPlan::Size master, const MasterInfo& info) {
    json color = json::object();
    color["primaries"] = info.color.primaries;
    color["transfer"] = info.color.transfer;
    color["space"] = info.color.matrix;
    color["range"] = "tv";
    json value = json::object();
    value["name"] = name;
    value["w"] = master.w;
    value["h"] = master.h;
    value["fps"] = info.fpsText;
    value["frames"] = info.frames;
    value["duration"] = info.duration;
    value["codec"] = info.codecName();
    value["color"] = std::move(color);
    value["audio"] = info.audio;
    return value;
}

// A made file as the manifest lists it; its hash is not computed, the key stays empty.
json madeFileObject(const std::string& file, const std::function<int64_t(const std::string&)>& bytes) {
    json value = json::object();
    value["file"] = file;
    value["bytes"] = bytes(file);
    value["sha256"] = "";
    return value;
}

} // namespace

MasterInfo::Color MasterInfo::Color::bt709() {
    return {std::string(bt709Tag), std::string(bt709Tag), std::string(bt709Tag)};
}

std::string MasterInfo::codecName() const {
    if (isOneOf(codec, {"avc1", "avc3"})) return "h264";
    if (isOneOf(codec, {"hvc1", "hev1"})) return "hevc";
    if (isOneOf(codec, {"apco", "apcs", "apcn", "apch", "ap4h", "ap4x"})) return "prores";
    return codec;
}

bool MasterInfo::sdr(std::string_view primaries, std::string_view transfer, std::string_view matrix) {
    return isOneOf(primaries, {bt709Tag, "SMPTE_C", "EBU_3213"}) && isOneOf(transfer, {bt709Tag, "SMPTE_170M_1999"}) &&
           isOneOf(matrix, {bt709Tag, "ITU_R_601_4", "SMPTE_240M_1995"});
}

nlohmann::json MasterInfo::json() const {
    nlohmann::json tags = nlohmann::json::object();
    tags["primaries"] = color.primaries;
    tags["transfer"] = color.transfer;
    tags["matrix"] = color.matrix;
    nlohmann::json value = nlohmann::json::object();
    value["w"] = w;
    value["h"] = h;
    value["fps"] = fps;
    value["fpsText"] = fpsText;
    value["frames"] = frames;
    value["duration"] = duration;
    value["codec"] = codec;
    value["audio"] = audio;
    value["color"] = std::move(tags);
    value["alpha"] = alpha;
    return value;
}

std::optional<MasterInfo> MasterInfo::fromJSON(const nlohmann::json& value) {
    using namespace JSONField;
    const nlohmann::json* tags = member(value, "color");
    const nlohmann::json* audio = member(value, "audio");
    const nlohmann::json* alpha = member(value, "alpha");
    const std::optional<int64_t> w = integer(member(value, "w")), h = integer(member(value, "h")),
                                 frames = integer(member(value, "frames"));
    const std::optional<double> fps = number(member(value, "fps")), duration = number(member(value, "duration"));
    const std::optional<std::string> fpsText = string(member(value, "fpsText")), codec = string(member(value, "codec"));
    const std::optional<std::string> primaries = tags ? string(member(*tags, "primaries")) : std::nullopt,
                                     transfer = tags ? string(member(*tags, "transfer")) : std::nullopt,
                                     matrix = tags ? string(member(*tags, "matrix")) : std::nullopt;
    if (!w || !h || !frames || !fps || !duration || !fpsText || !codec || !primaries || !transfer || !matrix ||
        !audio || !audio->is_boolean() || !alpha || !alpha->is_boolean())
        return std::nullopt;
    // What is not on the wire stays unknown.
    MasterInfo info;
    info.w = *w;
    info.h = *h;
    info.fps = *fps;
    info.fpsText = *fpsText;
    info.frames = *frames;
    info.duration = *duration;
    info.codec = *codec;
    info.audio = audio->get<bool>();
    info.color = {*primaries, *transfer, *matrix};
    info.alpha = alpha->get<bool>();
    return info;
}

LadderPlan LadderPlan::plan(std::string base, int64_t w, int64_t h, int64_t stripWidth, int64_t overlap, Alpha alpha) {
    LadderPlan plan;
    plan.base = std::move(base);
    plan.master = {w, h};
    plan.alpha = alpha == Alpha::yes;
    const std::string_view extension = plan.alpha ? ".webm" : ".mp4";
    plan.file = plan.base + std::string(extension);
    // A picture without area, or larger than any probe lets through, has nothing to make: 0 × 0.
    if (w < 1 || h < 1 || w > largestSide || h > largestSide) return plan;
    if (w <= wideWidth) {
        plan.size = {evenUp(w), evenUp(h)};
        return plan;
    }
    // Strips are at least 2 wide and step at least 2, so neighbours can overlap by sw - 2 at most.
    const int64_t sw = std::max<int64_t>(2, evenDown(std::min(stripWidth, evenUp(w))));
    const int64_t ov = std::clamp<int64_t>(evenDown(overlap), 0, sw - 2);
    plan.strips = spreadStrips(plan.base, evenUp(w), sw, ov, extension);
    plan.file = plan.base + ".wide-" + std::to_string(w) + "x" + std::to_string(h) + std::string(extension);
    plan.size = {wideWidth, evenDown(h * wideWidth / w + 1)};
    plan.stripSize = {sw, evenUp(h)};
    plan.overlapMin = ov;
    return plan;
}

std::string LadderPlan::manifestData(std::string_view name, const MasterInfo& info,
                                     const std::function<int64_t(const std::string& file)>& bytes,
                                     std::string_view encoder, std::chrono::system_clock::time_point now) const {
    // JSON has no NaN or infinity: the writer would put null where readers expect a number.
    if (!std::isfinite(info.duration)) return {};
    json wide = madeFileObject(file, bytes);
    wide["w"] = size.w;
    wide["h"] = size.h;
    json madeStrips = json::array();
    for (const Strip& strip : strips) {
        json made = madeFileObject(strip.file, bytes);
        made["x"] = strip.x;
        made["w"] = strip.w;
        made["h"] = master.h;
        madeStrips.push_back(std::move(made));
    }
    json manifest = json::object();
    manifest["format"] = "vorlane-previs";
    manifest["version"] = 1;
    manifest["master"] = masterObject(name, master, info);
    manifest["wide"] = std::move(wide);
    manifest["strips"] = std::move(madeStrips);
    manifest["overlapMin"] = overlapMin;
    manifest["encoder"] = encoder;
    manifest["createdAt"] = Text::iso8601(now);
    if (alpha) manifest["alpha"] = true;
    try {
        return manifest.dump(2); // object keys are kept sorted by nlohmann::json
    } catch (const json::type_error&) {
        return {}; // a text that is not UTF-8
    }
}

std::vector<std::string> LadderPlan::files() const {
    std::vector<std::string> names{file};
    for (const Strip& strip : strips) names.push_back(strip.file);
    return names;
}

namespace Ladder {

std::string base(std::string_view masterFileName) {
    std::string stem = std::filesystem::path(masterFileName).replace_extension().string();
    stem = replacingAll(std::move(stem), ".wide-", "-wide-");
    stem = replacingAll(std::move(stem), ".strip-", "-strip-");
    stem.erase(0, stem.find_first_not_of('.'));
    std::ranges::replace(stem, '/', '-');
    std::ranges::replace(stem, ':', '-');
    return stem.empty() ? "master" : stem;
}

bool usableAsIs(const MasterInfo& info, std::string_view extension) {
    // A probe that found no picture size found nothing that could be shown as it is.
    if (info.w < 1 || info.h < 1) return false;
    const std::string lowered = Text::lowercased(extension);
    if (info.alpha && info.probedByFFmpeg() && info.ffCodecName() == "vp9" && lowered == "webm")
        return info.w <= LadderPlan::wideWidth && info.h <= LadderPlan::alphaMax;
    return browsersDecode(info) && MediaKinds::videoTypes.contains(lowered) && info.w <= largestAsIsSide &&
           info.h <= largestAsIsSide && info.w * info.h <= largestAsIsArea;
}

} // namespace Ladder
