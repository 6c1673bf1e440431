#include "app/Terminal/MakeCommand.h"

#include "app/QuitSignals.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Stills.h"
#include "TrelkCore/Library/StillSizes.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/Making/Making.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Priority.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace {

struct Request {
    std::vector<fs::path> masters;
    fs::path into = ".";
    bool force = false;      // replace files of the same names
    bool background = false; // yield to the user's other work; by default the user waits for it
};

std::optional<Request> parse(const std::vector<std::string_view>& arguments) {
    Request request;
    bool intoGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--into") {
            if (intoGiven || i + 1 == arguments.size()) return std::nullopt;
            request.into = arguments[++i];
            intoGiven = true;
        } else if (arguments[i] == "--force") {
            request.force = true;
        } else if (arguments[i] == "--background") {
            request.background = true;
        } else if (arguments[i].starts_with("--")) {
            return std::nullopt;
        } else {
            request.masters.emplace_back(arguments[i]);
        }
    }
    if (request.masters.empty()) return std::nullopt;
    return request;
}

std::string clock(double seconds) {
    const long whole = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// One line per master on a terminal, rewritten in place: done, speed, time left.
class ProgressLine {
public:
    explicit ProgressLine(std::string name) : name(std::move(name)), shown(isatty(STDERR_FILENO)) {}

    void show(double fraction, int64_t frames) {
        if (!shown) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double fps = elapsed > 0 ? fraction * double(frames) / elapsed : 0;
        const double left = fraction > 0 ? elapsed * (1 - fraction) / fraction : 0;
        std::fprintf(stderr, "\r%s  %3.0f %%  %.1f fps  %s left ", name.c_str(), fraction * 100, fps,
                     clock(left).c_str());
        std::fflush(stderr);
    }
    // Ends the line however the making ended.
    ~ProgressLine() {
        if (shown) std::fputs("\n", stderr);
    }

private:
    std::string name;
    bool shown;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

struct Probed {
    fs::path master;
    std::optional<MasterInfo> info; // none for a still

    std::string base() const { return Ladder::base(master.filename().string()); }
    // The names of the files the making will put in its target folder.
    std::vector<std::string> files() const {
        if (!info) return {Stills::planned(master, base()).file};
        return Making::files(master, *info);
    }
};

// The facts of every master that can be read; the others are reported and left out.
std::vector<Probed> probeAll(AVEngine& engine, const std::vector<fs::path>& masters, int& status) {
    std::vector<Probed> probed;
    for (const fs::path& master : masters) {
        try {
            if (!MediaKinds::isStill(master)) {
                probed.push_back({master, engine.probe(master)});
                for (const std::string& assumed : probed.back().info->picture.assumed)
                    std::fprintf(stderr, "%s: %s\n", master.c_str(), assumed.c_str());
            } else if (Library::stillSize(master)) {
                probed.push_back({master, std::nullopt});
            } else {
                throw TrelkError("couldn't read this picture");
            }
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", master.c_str(), Decode::unreadable(failure).c_str());
            status = 1;
        }
    }
    return probed;
}

// Names every file the makings would replace; true when there is none.
bool nothingReplaced(const std::vector<Probed>& probed, const fs::path& into) {
    bool none = true;
    for (const Probed& one : probed)
        for (const std::string& name : one.files()) {
            std::error_code error;
            if (fs::symlink_status(into / name, error).type() == fs::file_type::not_found) continue;
            std::fprintf(stderr, "%s: already there · --force replaces it\n", (into / name).c_str());
            none = false;
        }
    return none;
}

// Names every file that two of the makings would make, the second replacing the first; true
// when there is none. A still and a video of one name both become base.png or base.mp4 alike.
bool noneMadeTwice(const std::vector<Probed>& probed, const fs::path& into) {
    std::set<std::string> named;
    bool none = true;
    for (const Probed& one : probed)
        for (const std::string& name : one.files()) {
            if (named.insert(name).second) continue;
            std::fprintf(stderr, "%s: more than one master makes it · give one of them its own --into folder\n",
                         (into / name).c_str());
            none = false;
        }
    return none;
}

// The names of the files made of one master in `into`.
std::vector<std::string> makeOne(AVEngine& engine, const Probed& probed, const fs::path& into,
                                 const QuitSignals& quitSignals) {
    if (!probed.info) {
        Files::createFolders(into);
        return {Stills::make(probed.master, into, probed.base(), Making::Transfer::copy).file};
    }
    const MasterInfo& info = *probed.info;
    ProgressLine line(probed.master.filename().string());
    return Making::video(
               engine, probed.master, info, into, Making::Transfer::copy, AVEngine::encoderName,
               [&](double fraction) { line.show(fraction, info.frames); }, [&] { return quitSignals.happened(); })
        .files;
}

} // namespace

int makeCommand(const std::vector<std::string_view>& arguments) {
    std::optional<Request> request = parse(arguments);
    if (!request) return 2;
    if (request->background) Priority::background(); // before the engine starts any thread
    QuitSignals quitSignals; // a quit cancels the making under way
    AVEngine engine;
    int status = 0;
    const std::vector<Probed> probed = probeAll(engine, request->masters, status);
    if (!noneMadeTwice(probed, request->into)) return 1;
    if (!request->force && !nothingReplaced(probed, request->into)) return 1;
    for (const Probed& one : probed) {
        const fs::path& master = one.master;
        try {
            for (const std::string& made : makeOne(engine, one, request->into, quitSignals))
                std::printf("%s\n", (request->into / made).c_str());
        } catch (const CancellationError&) {
            std::fprintf(stderr, "%s: cancelled\n", master.c_str());
            return 1;
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", master.c_str(), failure.what());
            status = 1;
        }
        std::fflush(stdout);
    }
    return status;
}
