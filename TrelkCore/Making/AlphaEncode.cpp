#include "TrelkCore/Making/AlphaEncode.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Platform/ErrorText.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Process.h"
#include "TrelkCore/Platform/Text.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr auto watchInterval = std::chrono::milliseconds(100);
// Progress lines are short; a longer run without a line feed is kept no further.
constexpr size_t longestLine = 1 << 16;

// The sound is padded with silence to the pictures' end, and cut there.
std::vector<std::string> soundArguments(const MasterInfo& info) {
    if (!info.audio) return {"-an"};
    return {"-map", "0:a:0?", "-af", "apad", "-shortest", "-c:a", "opus", "-strict", "-2",
            "-b:a", "160k", "-ar", "48000", "-ac", "2"};
}

// What every picture goes through first: the master's fixes, then its nominal rate.
std::string fixes(const MasterInfo& info) {
    const auto [num, den] = FrameRate::fraction(info.fpsText, info.fps);
    PictureFix kept = info.picture;
    kept.transfer = PictureFix::Transfer::sdr; // tone-mapping here would drop the alpha
    const std::string fix = kept.filters();
    return (fix.empty() ? "" : fix + ",") + "fps=" + std::to_string(num) + "/" + std::to_string(den);
}

std::vector<std::string> video(const std::string& crf, const std::string& keyInterval) {
    return {"-fps_mode", "passthrough", "-c:v", "libvpx-vp9", "-pix_fmt", "yuva420p", "-crf", crf,
            "-b:v",      "0",           "-deadline", "good", "-cpu-used", "4", "-row-mt", "1",
            "-auto-alt-ref", "0",       "-g",  keyInterval, "-sn", "-dn"};
}

void append(std::vector<std::string>& list, const std::vector<std::string>& more) {
    list.insert(list.end(), more.begin(), more.end());
}

// crop and pad cut an odd picture in 4:2:0 down to whole chroma samples; at full chroma
// resolution they keep its last column and row.
std::string fullChromaWhenOdd(int64_t w, int64_t h) { return w % 2 || h % 2 ? "format=yuva444p," : ""; }

std::string filterGraph(const LadderPlan& plan, const MasterInfo& info) {
    const size_t n = plan.strips.size();
    std::string graph = "[0:v:0]" + fixes(info) + ",split=" + std::to_string(n + 1) + "[w]";
    for (size_t i = 0; i < n; ++i) graph += "[s" + std::to_string(i) + "]";
    graph += ";[w]scale=" + std::to_string(plan.size.w) + ":" + std::to_string(plan.size.h) +
             ":flags=lanczos,format=yuva420p[wo]";
    for (size_t i = 0; i < n; ++i) {
        const LadderPlan::Strip& strip = plan.strips[i];
        const int64_t cropWidth = std::min(plan.master.w - strip.x, strip.w);
        graph += ";[s" + std::to_string(i) + "]" + fullChromaWhenOdd(cropWidth, plan.master.h) +
                 "crop=" + std::to_string(cropWidth) + ":ih:" + std::to_string(strip.x) + ":0,pad=" +
                 std::to_string(plan.stripSize.w) + ":" +
                 std::to_string(plan.stripSize.h) + ":0:0:color=black@0,format=yuva420p[so" + std::to_string(i) + "]";
    }
    return graph;
}

// Stops ffmpeg once cancelled() says so, looking every 100 ms while it runs.
class Watchdog {
public:
    Watchdog(Process& process, const AlphaEncode::Cancelled& cancelled)
        : thread([this, &process, &cancelled] { watch(process, cancelled); }) {}
    // Waits for the watching thread.
    ~Watchdog() {
        {
            std::lock_guard guard(lock);
            over = true;
        }
        wake.notify_one();
        thread.join();
    }

private:
    void watch(Process& process, const AlphaEncode::Cancelled& cancelled) {
        std::unique_lock guard(lock);
        while (!over) {
            if (cancelled && cancelled()) {
                process.terminate();
                return;
            }
            wake.wait_for(guard, watchInterval, [this] { return over; });
        }
    }

    std::mutex lock; // guards over
    std::condition_variable wake;
    bool over = false;
    std::thread thread;
};

// Hands every complete line of the stream to `line`, as it arrives.
template <typename Line>
void readLines(int fd, Line&& line) {
    std::string pending;
    char piece[4096];
    while (true) {
        ssize_t count = Files::readSome(fd, piece, sizeof piece);
        if (count <= 0) return;
        pending.append(piece, size_t(count));
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            line(Text::repairedUTF8(std::string_view(pending).substr(start, end - start)));
        pending.erase(0, start);
        if (pending.size() > longestLine) pending.clear(); // not a progress line: drop it
    }
}

void removeAll(const std::vector<fs::path>& files) {
    for (const fs::path& file : files) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
}

} // namespace

namespace AlphaEncode {

int64_t make(const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
             const Progress& progress, const Cancelled& cancelled) {
    const std::string tallest = std::to_string(LadderPlan::alphaMax);
    if (info.h > LadderPlan::alphaMax)
        throw TrelkError("an alpha master over " + tallest + " px tall isn't made yet · export it at " + tallest +
                         " or less");
    std::optional<fs::path> ffmpeg = FFDecode::path();
    if (!ffmpeg) throw TrelkError("this copy of Trelk can't make alpha video · install Trelk again");
    std::vector<fs::path> outputs;
    for (const std::string& file : plan.files()) outputs.push_back(into / file);
    // The calling thread is the making's own, so the run happens on it rather than a new one.
    try {
        return run(*ffmpeg, arguments(master, into, plan, info), info.duration, progress, cancelled);
    } catch (...) {
        removeAll(outputs);
        throw;
    }
}

std::vector<std::string> arguments(const fs::path& master, const fs::path& into, const LadderPlan& plan,
                                   const MasterInfo& info) {
    const std::string keyInterval = std::to_string(std::max<int64_t>(1, std::llround(std::min(info.fps, 1e6))));
    std::vector<std::string> list{"-v",       "error", "-nostdin", "-y", "-progress", "pipe:1", "-nostats",
                                  "-noautorotate", "-i",   fs::absolute(master).string()};
    const std::string mainFile = fs::absolute(into / plan.file).string();
    if (plan.master.w <= LadderPlan::wideWidth) {
        append(list, {"-map", "0:v:0", "-vf",
                      fixes(info) + "," + fullChromaWhenOdd(plan.master.w, plan.master.h) +
                          "pad=ceil(iw/2)*2:ceil(ih/2)*2:color=black@0,format=yuva420p"});
        append(list, video("24", keyInterval));
        append(list, soundArguments(info));
        append(list, {"-f", "webm", mainFile});
        return list;
    }
    append(list, {"-filter_complex", filterGraph(plan, info), "-map", "[wo]"});
    append(list, video("24", keyInterval));
    append(list, soundArguments(info));
    append(list, {"-f", "webm", mainFile});
    for (size_t i = 0; i < plan.strips.size(); ++i) {
        append(list, {"-map", "[so" + std::to_string(i) + "]"});
        append(list, video("22", keyInterval));
        append(list, {"-an", "-f", "webm", fs::absolute(into / plan.strips[i].file).string()});
    }
    return list;
}

int64_t run(const fs::path& ffmpeg, const std::vector<std::string>& arguments, double duration,
            const Progress& progress, const Cancelled& cancelled) {
    std::optional<Process> process;
    try {
        process.emplace(Process::start(ffmpeg, arguments, Process::Stream::pipe, Process::Stream::pipe));
    } catch (const std::system_error&) {
        throw TrelkError("couldn't start the encoder for alpha video");
    }
    ErrorText errors(process->error());
    Process::Exit exit;
    int64_t written = 0;
    try {
        Watchdog watchdog(*process, cancelled);
        readLines(process->output(), [&](const std::string& line) {
            if (std::optional<double> done = fraction(line, duration); done && progress) progress(*done);
            if (std::optional<int64_t> count = pictures(line)) written = *count;
        });
        exit = process->wait();
    } catch (...) {
        process->kill(); // else the error reader would wait for an ffmpeg that nobody stops
        throw;
    }
    errors.finish();
    if (cancelled && cancelled()) throw CancellationError();
    if (exit.succeeded()) {
        if (progress) progress(0.99);
        return written;
    }
    std::string reason = errors.lastLine();
    throw TrelkError("couldn't make the alpha video" + (reason.empty() ? "" : ": " + reason));
}

std::optional<double> fraction(std::string_view line, double duration) {
    constexpr std::string_view key = "out_time_us=";
    if (!(duration > 0) || !line.starts_with(key)) return std::nullopt;
    std::optional<double> micros = Text::parseDecimal(line.substr(key.size()));
    if (!micros) return std::nullopt;
    return std::clamp(*micros / 1e6 / duration, 0.0, 0.99);
}

std::optional<int64_t> pictures(std::string_view line) {
    constexpr std::string_view key = "frame=";
    if (!line.starts_with(key)) return std::nullopt;
    return Text::parseInteger(line.substr(key.size()));
}

} // namespace AlphaEncode
