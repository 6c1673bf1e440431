// Masters as phones and cameras make them: turned, HDR, interlaced, at a variable rate, late.
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Making/ConstantRate.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/LadderRun.h"
#include "TrelkCore/Making/Making.h"
#include "TrelkCore/Making/PictureFix.h"
#include "TrelkCore/Making/SoundFit.h"

#include "TrelkCore/Platform/Text.h"

#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace fs = std::filesystem;

namespace {

std::string ffmpeg() { return FFDecode::path().value_or("ffmpeg").string(); }

fs::path makeMedia(const fs::path& out, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-v", "error", "-nostdin", "-y"});
    arguments.push_back(out.string());
    runProgram(ffmpeg(), arguments);
    if (!fs::exists(out)) throw std::runtime_error("ffmpeg made no " + out.string());
    return out;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes the first track's display matrix into an MP4, as a phone does when it is held turned.
void setDisplayMatrix(const fs::path& file, const std::array<int32_t, 9>& matrix) {
    std::string bytes = readBytes(file);
    const size_t at = bytes.find("tkhd");
    if (at == std::string::npos) throw std::runtime_error("no track header in " + file.string());
    const size_t start = at + (bytes[at + 4] == 1 ? 56 : 44); // version 1 has 64-bit times
    for (size_t i = 0; i < matrix.size(); ++i)
        for (int byte = 0; byte < 4; ++byte)
            bytes[start + 4 * i + byte] = char(uint32_t(matrix[i]) >> (24 - 8 * byte));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

constexpr int32_t one = 1 << 16;
std::array<int32_t, 9> matrix(int32_t a, int32_t b, int32_t c, int32_t d) { return {a, b, 0, c, d, 0, 0, 0, 1 << 30}; }

// One field of the first video stream as ffprobe writes it.
std::string probeField(const fs::path& file, const std::string& key) {
    const std::string output = runProgram(FFDecode::probePath().value().string(),
                                          {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=" + key,
                                           "-of", "json", file.string()});
    const nlohmann::json streams = nlohmann::json::parse(output).value("streams", nlohmann::json::array());
    if (streams.empty() || !streams[0].contains(key)) return "";
    const nlohmann::json& value = streams[0][key];
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// The made file of a master on the engine's own road.
fs::path made(const fs::path& master, const fs::path& into) {
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    const Making::Made result = Making::video(engine, master, info, into, Making::Transfer::copy,
                                              AVEngine::encoderName, [](double) {}, [] { return false; });
    return into / result.madeFile;
}

// The made file of a master through the ffmpeg program's pictures.
fs::path madeByProgram(const fs::path& master, const fs::path& into) {
    AVEngine engine;
    const MasterInfo info = engine.probe(master);
    const LadderPlan plan = LadderPlan::plan("made", info.w, info.h, 1536, 128, LadderPlan::Alpha::no);
    LadderRun run{.pictures = LadderRun::ProgramPictures{ffmpeg(), master}, .info = info, .plan = plan, .dir = into};
    run.run([](double) {}, [] { return false; });
    return into / plan.file;
}

// The lowest PSNR of any picture of a against the same picture of b, in dB.
double lowestPSNR(const fs::path& a, const fs::path& b) {
    const std::string stats = runProgram(ffmpeg(), {"-v", "error", "-i", a.string(), "-i", b.string(), "-lavfi",
                                                    "[0:v][1:v]psnr=stats_file=-", "-f", "null", "-"});
    double lowest = INFINITY;
    for (size_t at = stats.find("psnr_avg:"); at != std::string::npos; at = stats.find("psnr_avg:", at + 1))
        lowest = std::min(lowest, std::atof(stats.c_str() + at + 9));
    return lowest;
}

// Every picture's luma, w × h bytes each, and chroma (Cb then Cr planes) of 4:2:0.
std::string pixels(const fs::path& file) {
    return runProgram(ffmpeg(), {"-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

} // namespace

TEST(PictureFix, ReadsTheQuarterTurnsAndMirrorsOfADisplayMatrix) {
    struct Case {
        std::array<int32_t, 9> matrix;
        int turns;
        bool mirrored;
    };
    const Case cases[] = {
        {matrix(one, 0, 0, one), 0, false},   {matrix(0, one, -one, 0), 1, false}, // clockwise
        {matrix(-one, 0, 0, -one), 2, false}, {matrix(0, -one, one, 0), 3, false},
        {matrix(-one, 0, 0, one), 0, true},   {matrix(0, -one, -one, 0), 1, true},
        {matrix(one, 0, 0, -one), 2, true},   {matrix(0, one, one, 0), 3, true},
    };
    for (const Case& c : cases) {
        PictureFix fix;
        fix.orient(c.matrix);
        EXPECT_EQ(fix.quarterTurns, c.turns) << c.matrix[0] << " " << c.matrix[1];
        EXPECT_EQ(fix.mirrored, c.mirrored) << c.matrix[0] << " " << c.matrix[1];
        EXPECT_TRUE(fix.assumed.empty());
    }
    // A skew, a scale, a matrix of zeros: as stored, and said.
    for (const auto& odd : {matrix(one, one / 2, 0, one), matrix(2 * one, 0, 0, 2 * one), matrix(0, 0, 0, 0),
                            matrix(INT32_MIN, 0, 0, INT32_MIN)}) {
        PictureFix fix;
        fix.orient(odd);
        EXPECT_EQ(fix.quarterTurns, 0);
        EXPECT_FALSE(fix.mirrored);
        EXPECT_EQ(fix.assumed.size(), 1u);
        EXPECT_EQ(fix.filters(), "");
    }
}

TEST(ConstantRate, RepeatsAndLeavesOutPicturesByTheirTimes) {
    ConstantRate rate(25, 1); // ticks of 40 ms
    std::vector<std::shared_ptr<Media::Picture>> pictures;
    for (int i = 0; i < 5; ++i) pictures.push_back(std::make_shared<Media::Picture>(2, 2));
    std::vector<ConstantRate::Frame> out;
    auto keep = [&](std::deque<ConstantRate::Frame> ticks) { out.insert(out.end(), ticks.begin(), ticks.end()); };
    // At 0, 45 ms, then a gap to 170 ms, 175 ms (left out: 180 ms is nearer the next), 200 ms.
    for (auto [picture, ms] : std::vector<std::pair<int, int>>{{0, 0}, {1, 45}, {2, 170}, {3, 175}, {4, 200}})
        keep(rate.add({pictures[size_t(picture)], Media::Time{ms, 1000}}));
    keep(rate.finish());
    const std::vector<int> shown{0, 1, 1, 1, 3, 4};
    ASSERT_EQ(out.size(), shown.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].picture, pictures[size_t(shown[i])]) << i;
        EXPECT_EQ(out[i].time, (Media::Time{int64_t(i), 25})) << i;
    }
}

TEST(SoundFit, StartsWithTheFirstPictureAndEndsWithTheLast) {
    auto sound = [](int64_t frames, int64_t at) {
        return Media::AudioSample{std::vector<int16_t>(size_t(frames) * 2, 7), {at, 48000}};
    };
    // Sound from 0.25 s before the pictures: what comes before them is left out.
    SoundFit early({12000, 48000}, 100);
    EXPECT_TRUE(early.take(sound(100, 0)).empty());
    EXPECT_EQ(early.take(sound(100, 12000 - 40)), std::vector<int16_t>(120, 7));
    // Sound starting later: silence first, and nothing after the pictures' end.
    SoundFit late({0, 48000}, 100);
    std::vector<int16_t> first = late.take(sound(80, 30));
    ASSERT_EQ(first.size(), 200u);
    EXPECT_EQ(first[59], 0);
    EXPECT_EQ(first[60], 7);
    EXPECT_TRUE(late.full());
    // Shorter sound is padded once the pictures' length is known; unknown, it is not.
    SoundFit shorter({0, 48000}, std::nullopt);
    EXPECT_EQ(shorter.take(sound(10, 0)).size(), 20u);
    EXPECT_TRUE(shorter.padding(1000).empty());
    shorter.setLength(50);
    EXPECT_EQ(shorter.padding(1000), std::vector<int16_t>(80, 0));
    EXPECT_TRUE(shorter.padding(1000).empty());
}

class MasterFixes : public testing::Test {
protected:
    TempFolder temp;
};

TEST_F(MasterFixes, TurnedAndMirroredMastersAreMadeUpright) {
    const fs::path plain = makeMedia(temp / "plain.mp4",
                                     {"-f", "lavfi", "-i", "testsrc2=s=128x72:r=25:d=0.2", "-c:v", "libx265",
                                      "-x265-params", "log-level=error", "-pix_fmt", "yuv420p10le", "-tag:v", "hvc1",
                                      "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"});
    struct Case {
        std::array<int32_t, 9> matrix;
        std::string upright; // what shows the stored pictures as a player does
    };
    const Case cases[] = {
        {matrix(0, one, -one, 0), "transpose=clock"}, {matrix(-one, 0, 0, -one), "hflip,vflip"},
        {matrix(0, -one, one, 0), "transpose=cclock"}, {matrix(-one, 0, 0, one), "hflip"},
        {matrix(0, one, one, 0), "transpose=cclock_flip"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.upright);
        const fs::path master = temp / ("turned" + std::to_string(n++) + ".mp4");
        fs::copy_file(plain, master);
        setDisplayMatrix(master, c.matrix);
        const fs::path reference = makeMedia(master.string() + ".ref.mkv", {"-noautorotate", "-i", plain.string(),
                                                                          "-vf", c.upright, "-c:v", "ffv1"});
        const bool sideways = c.upright.starts_with("transpose");
        const MasterInfo info = AVEngine().probe(master);
        EXPECT_EQ(info.w, sideways ? 72 : 128);
        EXPECT_EQ(info.h, sideways ? 128 : 72);
        // ffprobe's reading of the matrix is the same.
        const MasterInfo programs = FFDecode::probe(master);
        EXPECT_EQ(programs.picture, info.picture);
        EXPECT_EQ(programs.w, info.w);
        for (bool program : {false, true}) {
            const fs::path into = temp / (master.stem().string() + (program ? "-program" : "-library"));
            fs::create_directories(into);
            const fs::path file = program ? madeByProgram(master, into) : made(master, into);
            EXPECT_EQ(probeField(file, "width"), sideways ? "72" : "128");
            EXPECT_EQ(probeField(file, "height"), sideways ? "128" : "72");
            EXPECT_GT(lowestPSNR(file, reference), 30) << (program ? "program" : "library");
        }
    }
}

TEST_F(MasterFixes, HDRMastersAreToneMappedIntoStandardRange) {
    // Bands of black, mid grey and a BT.2020 red over a bright grey: 64 × 24 each, top to bottom.
    auto bands = [&](const std::string& name, const std::string& transfer) {
        return makeMedia(temp / name,
                         {"-f", "lavfi", "-i", "color=c=0x101010:s=64x24:r=25:d=0.2", "-f", "lavfi", "-i",
                          "color=c=0x808080:s=64x24:r=25:d=0.2", "-f", "lavfi", "-i",
                          "color=c=0xB04040:s=64x24:r=25:d=0.2", "-filter_complex",
                          "[0][1][2]vstack=3,format=yuv420p10le", "-c:v", "libx265", "-x265-params", "log-level=error",
                          "-tag:v", "hvc1", "-color_primaries", "bt2020", "-color_trc", transfer, "-colorspace",
                          "bt2020nc"});
    };
    const int w = 64, h = 72;
    auto luma = [&](const std::string& bytes, int band) { return uint8_t(bytes[size_t((12 + 24 * band) * w + 32)]); };
    auto cr = [&](const std::string& bytes, int band) {
        return uint8_t(bytes[size_t(w * h + w * h / 4 + (6 + 12 * band) * w / 2 + 16)]);
    };
    const fs::path pq = bands("pq.mp4", "smpte2084"), hlg = bands("hlg.mp4", "arib-std-b67");
    EXPECT_EQ(FFDecode::probe(pq).picture, AVEngine().probe(pq).picture);
    EXPECT_EQ(FFDecode::probe(hlg).picture.transfer, PictureFix::Transfer::hlg);
    const std::string pqAsStored = pixels(pq), hlgAsStored = pixels(hlg);
    for (bool program : {false, true}) {
        SCOPED_TRACE(program ? "program" : "library");
        const fs::path into = temp / (program ? "program" : "library");
        fs::create_directories(into);
        const fs::path pqFile = program ? madeByProgram(pq, into) : made(pq, into);
        EXPECT_EQ(probeField(pqFile, "color_transfer"), "bt709");
        const std::string pqMade = pixels(pqFile);
        EXPECT_LE(luma(pqMade, 0), 32);                      // black stays black
        EXPECT_GT(luma(pqMade, 1), luma(pqAsStored, 1) + 15); // mid grey of ~100 nits comes up to SDR's
        fs::remove_all(into);
        fs::create_directories(into);
        const std::string hlgMade = pixels(program ? madeByProgram(hlg, into) : made(hlg, into));
        EXPECT_LE(luma(hlgMade, 0), 32);
        EXPECT_GT(cr(hlgMade, 2), cr(hlgAsStored, 2) + 20); // BT.2020 red is redder in BT.709 terms
    }
}

// How much each line differs from the mean of its neighbours, on average over the pictures of
// w × h: high where fields of different times are woven together.
double combing(const std::string& pictures, int w, int h) {
    const size_t size = size_t(w * h * 3 / 2);
    double total = 0;
    size_t count = 0;
    for (size_t at = 0; at + size <= pictures.size(); at += size)
        for (int y = 1; y + 1 < h; ++y)
            for (int x = 0; x < w; ++x) {
                auto luma = [&](int row) { return double(uint8_t(pictures[at + size_t(row * w + x)])); };
                total += std::abs(luma(y) - (luma(y - 1) + luma(y + 1)) / 2);
                ++count;
            }
    return count ? total / double(count) : 0;
}

TEST_F(MasterFixes, InterlacedMastersComeOutProgressive) {
    // Upright stripes crossing the picture at 50 positions a second, woven into 25 frames top
    // field first: a progressive picture of them has no detail from line to line.
    const std::vector<std::string> source{
        "-f", "lavfi", "-i", "nullsrc=s=128x96:r=50:d=0.6,geq=lum='255*mod(floor((X+T*200)/8)\\,2)':cb=128:cr=128",
        "-vf", "tinterlace=mode=interleave_top,setfield=tff", "-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-top",
        "1", "-q:v", "2"};
    for (const std::string name : {"interlaced.mp4", "interlaced.mkv"}) {
        SCOPED_TRACE(name);
        const fs::path master = makeMedia(temp / name, source);
        EXPECT_TRUE(AVEngine().probe(master).picture.interlaced);
        const fs::path into = temp / (name + "-made");
        fs::create_directories(into);
        const fs::path file = made(master, into);
        EXPECT_GT(combing(pixels(master), 128, 96), 20);
        EXPECT_LT(combing(pixels(file), 128, 96), 5);
        EXPECT_EQ(probeField(file, "nb_frames"), "15"); // the rate is kept
    }
}

namespace {

// The times, in seconds, at which the made file turns white and at which it starts to sound.
std::pair<std::vector<double>, std::vector<double>> flashesAndBeeps(const fs::path& file) {
    const std::optional<FrameRate> fps = FrameRate::parse(probeField(file, "r_frame_rate"));
    const std::string luma =
        runProgram(ffmpeg(), {"-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    const size_t picture = 64 * 36;
    std::vector<double> flashes, beeps;
    bool lit = false;
    for (size_t at = 0; at + picture <= luma.size(); at += picture) {
        const bool white = uint8_t(luma[at + picture / 2]) > 128;
        if (white && !lit) flashes.push_back(double(at / picture) / fps.value().fps());
        lit = white;
    }
    const std::string sound = runProgram(ffmpeg(), {"-v", "error", "-i", file.string(), "-f", "s16le", "-ac", "1",
                                                    "-ar", "48000", "-"});
    size_t lastLoud = 0;
    for (size_t n = 0; 2 * n + 1 < sound.size(); ++n) {
        int16_t sample;
        std::memcpy(&sample, sound.data() + 2 * n, 2);
        if (std::abs(sample) < 8000) continue;
        if (beeps.empty() || n - lastLoud > 4800) beeps.push_back(double(n) / 48000);
        lastLoud = n;
    }
    return {flashes, beeps};
}

// Black pictures flashing white at 1 s and at 7 s, with a beep at the same times.
std::vector<std::string> flashes(const std::string& timing, const std::vector<std::string>& pictureOptions,
                                 const std::vector<std::string>& outputOptions = {}) {
    std::vector<std::string> arguments = pictureOptions;
    arguments.insert(arguments.end(),
                     {"-f", "lavfi", "-i", "color=c=black:s=64x36:r=30:d=8", "-f", "lavfi", "-i",
                      "aevalsrc='if(between(t,1,1.1)+between(t,7,7.1),0.8*sin(2*PI*1000*t),0)':s=48000:d=8", "-vf",
                      timing + "drawbox=x=0:y=0:w=64:h=36:c=white:t=fill:enable='between(t,1,1.05)+between(t,7,7.05)'",
                      "-c:v", "libx265", "-x265-params", "log-level=error", "-tag:v", "hvc1", "-c:a", "aac"});
    arguments.insert(arguments.end(), outputOptions.begin(), outputOptions.end());
    return arguments;
}

} // namespace

TEST_F(MasterFixes, VariableRateAndLateStartingMastersStayInSync) {
    // In an MP4 the libraries read the master; in Matroska the ffmpeg program does.
    for (const std::string type : {".mp4", ".mkv"}) {
        // Pictures that come unevenly, about 27 a second, as phones record in low light.
        const fs::path uneven = makeMedia(
            temp / ("uneven" + type),
            flashes("setpts='N/30/TB+if(mod(N,7),0,0.02/TB)',select='mod(n,10)',", {}, {"-fps_mode", "vfr"}));
        // Pictures that start 0.5 s after the sound.
        const fs::path late = makeMedia(temp / ("late" + type), flashes("", {"-itsoffset", "0.5"}));
        for (const fs::path& master : {uneven, late}) {
            SCOPED_TRACE(master.filename().string());
            const fs::path into = temp / (master.filename().string() + "-made");
            fs::create_directories(into);
            const fs::path file = made(master, into);
            const auto [flashes, beeps] = flashesAndBeeps(file);
            ASSERT_EQ(flashes.size(), 2u);
            ASSERT_EQ(beeps.size(), 2u);
            for (size_t i = 0; i < 2; ++i) EXPECT_NEAR(flashes[i], beeps[i], 0.05) << i;
            EXPECT_EQ(probeField(file, "start_time"), "0.000000");
            // An even rate: every picture but the last, which the writer ends, lasts as long.
            const std::string durations = runProgram(FFDecode::probePath().value().string(),
                                                     {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                      "packet=duration", "-of", "csv=p=0", file.string()});
            std::vector<std::string_view> lines = Text::split(durations, '\n');
            ASSERT_GT(lines.size(), 100u);
            const std::set<std::string_view> distinct(lines.begin(), lines.end() - 1);
            EXPECT_EQ(distinct.size(), 1u) << durations;
        }
    }
}
