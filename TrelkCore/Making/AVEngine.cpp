#include "TrelkCore/Making/AVEngine.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Making/AlphaEncode.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/LadderRun.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/MediaAsset.h"
#include "TrelkCore/Platform/Text.h"

#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view whiteSpace = " \t\n\r\f\v";

std::optional<FrameRate> rateOf(std::optional<Media::Time> frameDuration) {
    if (!frameDuration || frameDuration->value <= 0 || frameDuration->timescale <= 0) return std::nullopt;
    return FrameRate{double(frameDuration->timescale), double(frameDuration->value)};
}

// The stream's constant rate, or the steady rate its varying frame durations keep to.
FrameRate rateOf(const Media::VideoTrack& track) {
    if (std::optional<FrameRate> constant = rateOf(track.minFrameDuration)) return *constant;
    return FrameRate::nominal(track.nominalFrameRate, rateOf(track.baseFrameDuration));
}

double secondsOf(Media::Time time) { return time.timescale > 0 ? double(time.value) / time.timescale : 0; }

MasterInfo::Color colorOf(const Media::FormatDescription& format) {
    if (format.colorPrimaries && format.transferFunction && format.yCbCrMatrix &&
        MasterInfo::sdr(*format.colorPrimaries, *format.transferFunction, *format.yCbCrMatrix))
        return {*format.colorPrimaries, *format.transferFunction, *format.yCbCrMatrix};
    return MasterInfo::Color::bt709();
}

// FFmpeg's name of a transfer or primaries the platform names; "" for the rest.
std::string_view ffName(const std::optional<std::string>& platformName) {
    static const std::map<std::string, std::string_view, std::less<>> names{
        {"SMPTE_ST_2084_PQ", "smpte2084"}, {"ITU_R_2100_HLG", "arib-std-b67"}, {"ITU_R_2020", "bt2020"},
        {"P3_D65", "smpte432"},            {"DCI_P3", "smpte431"},             {"ITU_R_709_2", "bt709"}};
    if (!platformName) return "";
    const auto found = names.find(*platformName);
    return found == names.end() ? "" : found->second;
}

PictureFix fixOf(const Media::VideoTrack& track, const Media::FormatDescription* format) {
    PictureFix fix;
    if (track.displayMatrix) fix.orient(*track.displayMatrix);
    fix.readFieldOrder(track.fieldOrder);
    if (format) fix.readTransfer(ffName(format->transferFunction), ffName(format->colorPrimaries));
    fix.readMatrix(format && format->yCbCrMatrix, track.naturalHeight);
    return fix;
}

bool alphaOf(const fs::path& master, const MasterInfo& info, const Media::FormatDescription* format) {
    if (!AlphaEncode::candidates.contains(info.codec)) return false;
    if (std::optional<bool> alpha = FFDecode::alphaOf(master)) return *alpha;
    return (format && format->depth == 32) || AlphaEncode::alphaCodes.contains(info.codec);
}

// Sizes, rates and durations a file may state that no making could follow.
bool absurd(const Media::VideoTrack& track, double fps, double duration) {
    const double frames = fps * duration;
    return !std::isfinite(fps) || !std::isfinite(duration) || !std::isfinite(frames) ||
           frames >= double(std::numeric_limits<int64_t>::max()) || track.naturalWidth < 1 || track.naturalHeight < 1;
}

const Media::VideoTrack& firstVideoTrack(const Media::MediaAsset& asset) {
    if (asset.videoTracks().empty()) throw TrelkError("no picture in this file");
    return asset.videoTracks().front();
}

std::optional<LadderRun::Sound> firstSound(const std::shared_ptr<const Media::MediaAsset>& asset) {
    if (asset->audioTracks().empty()) return std::nullopt;
    return LadderRun::Sound{asset, asset->audioTracks().front()};
}

void removePlanFiles(const LadderPlan& plan, const fs::path& into) {
    std::error_code ignored;
    for (const std::string& file : plan.files()) fs::remove(into / file, ignored);
}

// Removes the extracted sound however the making ends.
struct SoundFile {
    std::optional<fs::path> path;
    ~SoundFile() {
        std::error_code ignored;
        if (path) fs::remove(*path, ignored);
    }
};

int64_t makeThroughFFmpeg(const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
                          const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled) {
    const std::optional<fs::path> ffmpeg = FFDecode::path();
    if (!ffmpeg) throw DecodeFailure(info.ffCodecName());
    SoundFile sound;
    if (info.audio) sound.path = FFDecode::soundAsWAV(master, into);
    // The extracted sound starts with the file's earliest stream, the pictures a little later.
    const Media::Time start{std::llround(std::clamp(info.pictureStart, 0.0, 1e7) * 48000), 48000};
    LadderRun run{.pictures = LadderRun::ProgramPictures{*ffmpeg, master}, .start = start, .info = info,
                  .plan = plan, .dir = into};
    if (sound.path) run.sound = firstSound(Media::MediaAsset::open(*sound.path));
    return run.run(progress, cancelled);
}

int64_t makeOnPlatform(const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
                       const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled) {
    const std::shared_ptr<const Media::MediaAsset> asset = Media::MediaAsset::open(master);
    const Media::VideoTrack& track = firstVideoTrack(*asset);
    LadderRun run{.pictures = LadderRun::LibraryPictures{asset, track},
                  .sound = firstSound(asset),
                  .start = track.timeRange.start,
                  .info = info,
                  .plan = plan,
                  .dir = into};
    const std::optional<fs::path> ffmpeg = FFDecode::path();
    if (FFDecode::handles(info.codec) && ffmpeg) run.pictures = LadderRun::ProgramPictures{*ffmpeg, master};
    try {
        return run.run(progress, cancelled);
    } catch (const DecodeFailure&) {
        // What the libraries open but cannot decode may still go through the ffmpeg program.
        if (std::holds_alternative<LadderRun::ProgramPictures>(run.pictures) || !ffmpeg) throw;
        removePlanFiles(plan, into);
        run.pictures = LadderRun::ProgramPictures{*ffmpeg, master};
        return run.run(progress, cancelled);
    }
}

// Both readers would wait on a named pipe or a device for bytes that may never come.
void requireRegular(const fs::path& master) {
    std::error_code error;
    const fs::file_type type = fs::status(master, error).type();
    if (type == fs::file_type::not_found || type == fs::file_type::directory || type == fs::file_type::regular) return;
    throw TrelkError("couldn't read the master: not a regular file");
}

} // namespace

MasterInfo AVEngine::probe(const fs::path& master) {
    requireRegular(master);
    if (MediaKinds::isFFContainer(master)) return FFDecode::probe(master);
    try {
        return avProbe(master);
    } catch (const std::exception&) {
        if (!FFDecode::probePath()) throw;
        std::exception_ptr first = std::current_exception();
        try {
            return FFDecode::probe(master);
        } catch (const std::exception&) {
            std::rethrow_exception(first);
        }
    }
}

MasterInfo AVEngine::avProbe(const fs::path& master) {
    const std::shared_ptr<const Media::MediaAsset> asset = Media::MediaAsset::open(master);
    const Media::VideoTrack& track = firstVideoTrack(*asset);
    const Media::FormatDescription* format =
        track.formatDescriptions.empty() ? nullptr : &track.formatDescriptions.front();
    MasterInfo info;
    const FrameRate rate = rateOf(track);
    info.fps = rate.fps();
    // The pictures' own length: the file's may count longer sound or a late start.
    const double pictureSeconds = secondsOf(track.timeRange.duration);
    info.duration = pictureSeconds > 0 ? pictureSeconds : asset->duration();
    if (absurd(track, info.fps, info.duration)) throw TrelkError("no picture size in this file");
    info.picture = fixOf(track, format);
    info.w = info.picture.sideways() ? track.naturalHeight : track.naturalWidth;
    info.h = info.picture.sideways() ? track.naturalWidth : track.naturalHeight;
    info.fpsText = std::to_string(int64_t(rate.numerator)) + "/" + std::to_string(int64_t(rate.denominator.value_or(1)));
    info.frames = std::llround(info.fps * info.duration);
    // A codec without a code here is as unnamed as one without a description.
    info.codec = format && format->mediaSubType != 0 ? fourcc(format->mediaSubType) : "";
    info.audio = !asset->audioTracks().empty();
    info.color = format ? colorOf(*format) : MasterInfo::Color::bt709();
    info.alpha = alphaOf(master, info, format);
    if (format) {
        info.profile = format->profile;
        info.pixelFormat = format->pixelFormat;
    }
    return info;
}

std::string AVEngine::fourcc(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<unsigned char>(code >> shift);
        if (byte > 127) return std::to_string(code);
        text += char(byte);
    }
    return std::string(Text::trim(text, whiteSpace));
}

int64_t AVEngine::make(const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
                       const Progress& progress, const Cancelled& cancelled) {
    requireRegular(master);
    if (plan.alpha) return AlphaEncode::make(master, info, plan, into, progress, cancelled);
    if (info.probedByFFmpeg()) return makeThroughFFmpeg(master, info, plan, into, progress, cancelled);
    return makeOnPlatform(master, info, plan, into, progress, cancelled);
}
