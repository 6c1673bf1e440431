#include "TrelkCore/Making/FFDecode.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/JSONField.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Process.h"
#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Larger pictures than these are refused: a frame of them would not fit in memory.
constexpr int64_t largestSide = 1 << 20;
constexpr int64_t mostPixels = int64_t(1) << 30;
// ffprobe's answer for an ordinary file is a few KiB.
constexpr size_t probeOutputLimit = 16 << 20;

std::optional<fs::path> executable(const fs::path& candidate) {
    struct stat info;
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(candidate.c_str(), X_OK) != 0)
        return std::nullopt;
    return candidate;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return value;
}

// The folder of the running program, where the build puts links to the FFmpeg programs.
fs::path auxiliaryFolder() {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

// Masters are passed as absolute paths, so that no name can be taken for an option.
std::string argumentPath(const fs::path& master) {
    std::error_code error;
    fs::path absolute = fs::absolute(master, error);
    return (error ? master : absolute).string();
}

struct Run {
    Process::Exit exit;
    std::string output;
};

// Runs a program to its end and keeps its standard output; none when it will not start.
std::optional<Run> run(const fs::path& program, const std::vector<std::string>& arguments) {
    try {
        Process process = Process::start(program, arguments, Process::Stream::pipe, Process::Stream::discard);
        std::string output = process.readOutput();
        return Run{process.wait(), std::move(output)};
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

using JSONField::member;

bool isString(const json* value, std::string_view text) {
    return value && value->is_string() && value->get_ref<const std::string&>() == text;
}

struct Rate {
    double fps;
    std::string text;
};

// ffprobe writes its rates as fractions; "25/1" is kept as "25".
std::optional<Rate> rate(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    const std::string_view text = Text::trim(value->get_ref<const std::string&>(), " \t\r\n\v\f");
    std::optional<FrameRate> found = FrameRate::parse(text);
    if (!found || !found->denominator) return std::nullopt;
    if (*found->denominator == 1)
        return Rate{found->fps(), std::to_string(int64_t(std::min(found->numerator, 1e15)))};
    return Rate{found->fps(), std::string(text)};
}

// The stream's rate: the average when it keeps one, else the steady rate its varying frame
// durations keep to, as a fraction.
Rate rateOf(const json& stream) {
    std::optional<Rate> average = rate(member(stream, "avg_frame_rate"));
    std::optional<Rate> base = rate(member(stream, "r_frame_rate"));
    if (average && base && average->fps != base->fps) {
        const FrameRate nominal = FrameRate::nominal(average->fps, FrameRate::parse(base->text));
        return {nominal.fps(), nominal.text()};
    }
    return average.or_else([&] { return base; }).value_or(Rate{30, "30"});
}

// Seconds from a text; negative, endless or absurd durations do not read.
std::optional<double> seconds(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    std::optional<double> number = Text::parseDecimal(value->get_ref<const std::string&>());
    if (!number || *number < 0 || *number > 1e9) return std::nullopt;
    return number;
}

// A stream's start, which may lie before zero.
std::optional<double> signedSeconds(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    std::optional<double> number = Text::parseDecimal(value->get_ref<const std::string&>());
    if (!number || !std::isfinite(*number) || std::abs(*number) > 1e9) return std::nullopt;
    return number;
}

// Matroska's tag of when a stream's last frame ends: "00:00:12.000000000".
std::optional<double> clockSeconds(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    const std::vector<std::string_view> pieces = Text::split(value->get_ref<const std::string&>(), ':');
    if (pieces.size() != 3) return std::nullopt;
    std::optional<int64_t> hours = Text::parseInteger(pieces[0]), minutes = Text::parseInteger(pieces[1]);
    std::optional<double> rest = Text::parseDecimal(pieces[2]);
    if (!hours || !minutes || !rest || *hours < 0 || *minutes < 0 || *rest < 0 || *hours > 1e6) return std::nullopt;
    return double(*hours) * 3600 + double(*minutes) * 60 + *rest;
}

// How long the pictures last: a container's length may count longer sound or a late start.
double pictureSeconds(const json& top, const json& stream) {
    if (std::optional<double> own = seconds(member(stream, "duration"))) return *own;
    const json* tags = member(stream, "tags");
    if (std::optional<double> end = tags && tags->is_object() ? clockSeconds(member(*tags, "DURATION")) : std::nullopt)
        return std::max(0.0, *end - seconds(member(stream, "start_time")).value_or(0));
    const json* format = member(top, "format");
    return (format ? seconds(member(*format, "duration")) : std::nullopt).value_or(0);
}

std::string textOf(const json* value) { return value && value->is_string() ? value->get<std::string>() : ""; }

std::optional<int64_t> frameCount(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    std::optional<int64_t> count = Text::parseInteger(value->get_ref<const std::string&>());
    if (!count || *count < 0) return std::nullopt;
    return count;
}

std::optional<int64_t> side(const json* value) {
    std::optional<int64_t> number = JSONField::integer(value);
    return number && *number > 0 ? number : std::nullopt;
}

bool hasAlpha(const json& stream) {
    const json* format = member(stream, "pix_fmt");
    if (FFDecode::alphaFormat(format && format->is_string() ? format->get_ref<const std::string&>() : ""))
        return true;
    const json* tags = member(stream, "tags");
    if (!tags || !tags->is_object()) return false;
    const json* mode = member(*tags, "alpha_mode");
    if (mode && mode->is_string()) return isString(mode, "1");
    return isString(member(*tags, "ALPHA_MODE"), "1");
}

std::string text(const json* value) {
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

// The nine numbers of ffprobe's display matrix, written as three lines "00000000: a b c".
std::optional<std::array<int32_t, 9>> displayMatrix(const json& stream) {
    const json* list = member(stream, "side_data_list");
    if (!list || !list->is_array()) return std::nullopt;
    for (const json& entry : *list) {
        const std::string written = entry.is_object() ? text(member(entry, "displaymatrix")) : "";
        if (written.empty()) continue;
        std::array<int32_t, 9> matrix{};
        size_t filled = 0;
        for (std::string_view line : Text::split(written, '\n')) {
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            for (std::string_view number : Text::split(line.substr(colon + 1), ' ')) {
                std::optional<int64_t> value = Text::parseInteger(number);
                if (!value || filled == matrix.size() || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
                matrix[filled++] = int32_t(*value);
            }
        }
        return filled == matrix.size() ? std::optional(matrix) : std::nullopt;
    }
    return std::nullopt;
}

// How the making must change the pictures. A colour matrix ffprobe cannot name is no tag.
PictureFix fixOf(const json& stream, int64_t codedHeight) {
    PictureFix fix;
    if (std::optional<std::array<int32_t, 9>> matrix = displayMatrix(stream)) fix.orient(*matrix);
    fix.readFieldOrder(text(member(stream, "field_order")));
    fix.readTransfer(text(member(stream, "color_transfer")), text(member(stream, "color_primaries")));
    const std::string space = text(member(stream, "color_space"));
    fix.readMatrix(!space.empty() && space != "unknown" && space != "reserved", codedHeight);
    return fix;
}

} // namespace

namespace FFDecode {

std::optional<fs::path> path() {
    if (std::optional<std::string> chosen = environment("TRELK_FFMPEG")) return executable(*chosen);
    return executable(auxiliaryFolder() / "ffmpeg");
}

std::optional<fs::path> probePath() {
    if (std::optional<std::string> chosen = environment("TRELK_FFPROBE")) return executable(*chosen);
    std::optional<fs::path> ffmpeg = path();
    if (!ffmpeg) return std::nullopt;
    return executable(ffmpeg->parent_path() / "ffprobe");
}

bool handles(std::string_view codec) {
    std::string_view trimmed = Text::trim(codec, " \t\r\n\v\f");
    if (!codecs.contains(trimmed) && !trimmed.starts_with(MasterInfo::ffPrefix)) return false;
    return path().has_value();
}

MasterInfo probe(const fs::path& master) {
    std::optional<fs::path> ffprobe = probePath();
    if (!ffprobe)
        throw TrelkError("macOS can't open ." + MediaKinds::extension(master) +
                         " files · export ProRes or H.264 in a .mov");
    std::optional<Run> ran = run(*ffprobe, {"-v", "error", "-show_entries",
                                            "stream=codec_type,codec_name,profile,width,height,r_frame_rate,"
                                            "avg_frame_rate,nb_frames,duration,start_time,pix_fmt,field_order,"
                                            "color_space,color_transfer,color_primaries:stream_tags=alpha_mode,"
                                            "DURATION:stream_side_data=displaymatrix:format=duration,start_time",
                                            "-of", "json", argumentPath(master)});
    if (!ran) throw TrelkError("couldn't start the decoder for this file");
    if (!ran->exit.succeeded() || ran->output.size() > probeOutputLimit)
        throw TrelkError("couldn't read the master: not a video file FFmpeg knows");
    return info(ran->output);
}

MasterInfo info(std::string_view probeOutput) {
    const json top = json::parse(probeOutput, nullptr, false);
    const json* streams = member(top, "streams");
    if (!top.is_object() || top.empty() || !streams || !streams->is_array() ||
        !std::ranges::all_of(*streams, [](const json& stream) { return stream.is_object(); }))
        throw TrelkError("couldn't read the master: not a video file FFmpeg knows");
    auto video = std::ranges::find_if(*streams, [](const json& s) { return isString(member(s, "codec_type"), "video"); });
    if (video == streams->end()) throw TrelkError("no picture in this file");
    const json& stream = *video;
    std::optional<int64_t> w = side(member(stream, "width")), h = side(member(stream, "height"));
    if (!w || !h) throw TrelkError("no picture in this file");
    if (*w > largestSide || *h > largestSide || *w * *h > mostPixels)
        throw TrelkError("the picture is too large · " + std::to_string(*w) + " × " + std::to_string(*h));

    MasterInfo info;
    info.picture = fixOf(stream, *h);
    info.w = info.picture.sideways() ? *h : *w;
    info.h = info.picture.sideways() ? *w : *h;
    const Rate found = rateOf(stream);
    info.fps = found.fps;
    info.fpsText = found.text;
    info.duration = pictureSeconds(top, stream);
    info.frames = frameCount(member(stream, "nb_frames")).value_or(std::llround(std::min(info.fps * info.duration, 1e15)));
    const json* name = member(stream, "codec_name");
    const std::string codec = name && name->is_string() ? name->get<std::string>() : "video";
    info.codec = std::string(MasterInfo::ffPrefix) + codec;
    info.audio = std::ranges::any_of(*streams, [](const json& s) { return isString(member(s, "codec_type"), "audio"); });
    info.color = MasterInfo::Color::bt709();
    info.alpha = hasAlpha(stream);
    info.profile = textOf(member(stream, "profile"));
    info.pixelFormat = textOf(member(stream, "pix_fmt"));
    const json* format = member(top, "format");
    const std::optional<double> fileStart = format ? signedSeconds(member(*format, "start_time")) : std::nullopt;
    const std::optional<double> pictureStart = signedSeconds(member(stream, "start_time"));
    if (fileStart && pictureStart) info.pictureStart = std::max(0.0, *pictureStart - *fileStart);
    return info;
}

bool alphaFormat(std::string_view pixelFormat) {
    const std::string name = Text::lowercased(pixelFormat);
    for (std::string_view prefix : {"yuva", "rgba", "bgra", "argb", "abgr", "gbrap", "ya8", "ya16", "rgba64", "bgra64"})
        if (name.starts_with(prefix)) return true;
    return false;
}

std::optional<bool> alphaOf(const fs::path& master) {
    std::optional<fs::path> ffprobe = probePath();
    if (!ffprobe) return std::nullopt;
    std::optional<Run> ran = run(*ffprobe, {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=pix_fmt",
                                            "-of", "csv=p=0", argumentPath(master)});
    if (!ran || !ran->exit.succeeded()) return std::nullopt;
    std::string_view text = Text::trim(ran->output, " \t\r\n\v\f");
    if (text.empty()) return std::nullopt;
    return alphaFormat(text);
}

bool canAlpha() {
    static LockedBox<std::optional<bool>> cache;
    if (std::optional<bool> known = cache.get()) return *known;
    bool able = false;
    if (std::optional<fs::path> ffmpeg = path()) {
        std::optional<Run> ran = run(*ffmpeg, {"-hide_banner", "-encoders"});
        able = ran && ran->exit.succeeded() && ran->output.find(" libvpx-vp9 ") != std::string::npos &&
               ran->output.find(" opus ") != std::string::npos;
    }
    cache.set(able);
    return able;
}

std::optional<fs::path> soundAsWAV(const fs::path& master, const fs::path& into) {
    std::optional<fs::path> ffmpeg = path();
    if (!ffmpeg) return std::nullopt;
    const fs::path output = into / ".trelk-sound.wav";
    try {
        Process process = Process::start(*ffmpeg,
                                         {"-v", "error", "-nostdin", "-i", argumentPath(master), "-map", "0:a:0", "-vn",
                                          "-sn", "-af", "aresample=async=1:first_pts=0", "-ac", "2", "-ar", "48000", "-c:a", "pcm_s16le", "-f", "wav", "-y",
                                          argumentPath(output)},
                                         Process::Stream::discard, Process::Stream::discard);
        if (!process.wait().succeeded()) return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::error_code error;
    return fs::exists(output, error) ? std::optional(output) : std::nullopt;
}

std::vector<std::string> arguments(const fs::path& master, const MasterInfo& info) {
    const int64_t w = info.w, h = info.h;
    const auto [num, den] = FrameRate::fraction(info.fpsText, info.fps);
    std::vector<std::string> steps;
    if (std::string fixes = info.picture.filters(); !fixes.empty()) steps.push_back(std::move(fixes));
    // Pictures counted from zero at the nominal rate: a variable rate is evened out by ffmpeg.
    steps.push_back("setpts=PTS-STARTPTS,fps=" + std::to_string(num) + "/" + std::to_string(den));
    const std::string_view from = info.picture.sourceMatrix();
    steps.push_back("scale=" + (from == "auto" ? std::string() : "in_color_matrix=" + std::string(from) + ":") +
                    "out_color_matrix=bt709:out_range=tv");
    // pad cuts an odd picture down to whole chroma samples when it works in 4:2:0; so odd
    // pictures are padded at full chroma resolution, with their last row and column repeated.
    if (w % 2 || h % 2)
        steps.push_back("format=yuv444p,pad=" + std::to_string(w + w % 2) + ":" + std::to_string(h + h % 2) +
                        ",fillborders=right=" + std::to_string(w % 2) + ":bottom=" + std::to_string(h % 2) +
                        ":mode=smear");
    steps.push_back("format=nv12");
    return {"-v",  "error", "-nostdin", "-noautorotate", "-i",          argumentPath(master), "-map",
            "0:v:0", "-an", "-sn",      "-fps_mode",     "passthrough", "-vf",                Text::joined(steps, ","),
            "-f",  "rawvideo", "-pix_fmt", "nv12", "pipe:1"};
}

} // namespace FFDecode
