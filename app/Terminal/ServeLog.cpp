#include "app/Terminal/ServeLog.h"

#include "TrelkCore/LibraryFolders.h"
#include "TrelkCore/Platform/Text.h"

#include <cmath>

namespace {

std::string timeLeft(double seconds) {
    if (seconds < 60) return std::to_string(std::max<int64_t>(1, std::llround(seconds))) + " s left";
    return std::to_string(std::llround(seconds / 60)) + " min left";
}

} // namespace

ServeLog::ServeLog(const TrelkModel& model, std::FILE* output) : model(model), output(output) {
    // Parts of a set that an earlier run made before it was stopped.
    for (const Job& job : model.jobs())
        if (!job.active()) seen[job.id].ended = true;
    connect(&model, &TrelkModel::serverReady, this, &ServeLog::ready);
    connect(&model, &TrelkModel::changed, this, &ServeLog::update);
}

void ServeLog::ready() {
    if (std::optional<uint16_t> port = model.port()) line("listening on 127.0.0.1:" + std::to_string(*port));
    listenerTried = true;
    update();
}

void ServeLog::update() {
    if (listenerTried && model.status() != lastStatus) {
        lastStatus = model.status();
        line(lastStatus);
    }
    if (listenerTried) {
        tellLinkedFolders();
        tellLeftOut();
    }
    std::map<std::string, Seen> listed; // jobs that left the list are forgotten
    for (const Job& job : model.jobs()) {
        Seen& told = listed[job.id] = seen[job.id];
        tell(job, told);
    }
    seen = std::move(listed);
}

void ServeLog::tell(const Job& job, Seen& seen) {
    if (seen.ended) return;
    if (seen.tenths < 0 && !seen.started) line("queued · " + job.name());
    if (!job.assumed.empty() && !seen.assumedTold) {
        seen.assumedTold = true;
        for (const std::string& assumed : job.assumed) line("assumed · " + job.name() + " · " + assumed);
    }
    if (const auto* making = std::get_if<Job::Making>(&job.state)) {
        const auto now = std::chrono::steady_clock::now();
        if (!seen.started) seen.started = now;
        const int tenths = int(std::floor(making->fraction * 10));
        if (tenths <= seen.tenths || tenths < 1) return;
        seen.tenths = tenths;
        const double spent = std::chrono::duration<double>(now - *seen.started).count();
        const double left = spent * (1 - making->fraction) / making->fraction;
        line("making · " + job.name() + " · " + std::to_string(tenths * 10) + " % · " + timeLeft(left));
        return;
    }
    if (!seen.started) seen.started = std::chrono::steady_clock::now();
    if (job.is<Job::Done>()) line("made · " + job.name());
    else if (const auto* failed = std::get_if<Job::Failed>(&job.state))
        line("failed · " + job.name() + " · " + (failed->told.empty() ? failed->message : failed->told),
             Journal::Priority::warning);
    else if (job.is<Job::Cancelled>()) line("cancelled · " + job.name());
    else return;
    seen.ended = true;
}

// The queue leaves a linked "Drop here" or "Masters" alone: nothing would say why otherwise.
void ServeLog::tellLinkedFolders() {
    for (const auto& [name, why] : {std::pair{LibraryFolders::drop, "nothing is taken from it or uploaded into it"},
                                    std::pair{LibraryFolders::masters, "no master is kept in it"}}) {
        const std::filesystem::path folder = model.folder() / name;
        std::error_code error;
        if (!std::filesystem::is_symlink(folder, error) || !linkedTold.insert(std::string(name)).second) continue;
        line(std::string(name) + " is a link, not a folder of the library · " + why);
    }
}

void ServeLog::tellLeftOut() {
    for (const std::string& path : model.leftOutOfLibrary())
        if (leftOutTold.insert(path).second)
            line("left out of the library's listing · " + path + " · its name is not UTF-8, so a page could not ask for it");
}

// A file name's control characters would move the cursor or change the colours.
void ServeLog::line(const std::string& text, Journal::Priority priority) {
    std::fprintf(output, "%s%s\n", Journal::prefix(output, priority).c_str(), Text::terminalSafe(text).c_str());
    std::fflush(output);
}
