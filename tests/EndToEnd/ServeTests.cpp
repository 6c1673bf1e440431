// The real program, started as a user would start it, talked to with a real HTTP client.
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <thread>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class ServeTest : public testing::Test {
protected:
    // A runtime folder of its own, so that the service never meets the user's running one.
    ServeTest() {
        fs::create_directory(folder / "runtime");
        fs::permissions(folder / "runtime", fs::perms::owner_all);
    }

    std::map<std::string, std::string> environment() {
        return {{"HOME", folder.path().string()},
                {"XDG_DATA_HOME", (folder / "data").string()},
                {"XDG_RUNTIME_DIR", (folder / "runtime").string()}};
    }

    // curl's body; with status, the HTTP status follows the body on a line of its own.
    std::string curl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"-s", "--max-time", "10"});
        return runProgram(TRELK_CURL, arguments);
    }

    std::string url(const std::string& path) { return "http://127.0.0.1:" + port + path; }

    // Reads the service's first lines: where it listens, then its status. False when its ports are taken.
    bool listening(Child& service) {
        const std::string line = service.readLine().value_or("");
        if (line.starts_with("Trelk off")) return false;
        EXPECT_TRUE(line.starts_with("listening on 127.0.0.1:")) << line;
        port = line.substr(line.rfind(':') + 1);
        EXPECT_EQ(service.readLine(), "Not linked · open VorlaneWeb in Chrome to pair");
        return true;
    }

    // Pairs a page through the terminal question, answered with the default button; its token.
    std::string pair(Child& service) {
        json asked = json::parse(curl({"-X", "POST", "-H", "Origin: https://vorlane.app", url("/trelk/pair")}));
        const std::string id = asked.at("id"), code = asked.at("code");
        EXPECT_EQ(service.readLine(), "Allow VorlaneWeb to use your library?");
        EXPECT_EQ(service.readLine(), "Code " + code + " · check it matches the page");
        EXPECT_EQ(service.readLine(), "https://vorlane.app");
        EXPECT_EQ(service.readLine(), "  1. Allow");
        EXPECT_EQ(service.readLine(), "  2. Don't Allow");
        EXPECT_EQ(curl({url("/trelk/pair/" + id)}), R"({"state":"pending"})");
        service.write("\n"); // the default button: Allow
        json state = json::object();
        for (int poll = 0; poll < 100 && state.value("state", "") != "allowed"; ++poll)
            state = json::parse(curl({url("/trelk/pair/" + id)}));
        return state.value("token", "");
    }

    TempFolder folder;
    std::string port;
};

TEST_F(ServeTest, VersionAndHelp) {
    EXPECT_EQ(runProgram(TRELK_PROGRAM, {"--version"}), "vorlane Trelk 0.1.0\n");
    EXPECT_NE(runProgram(TRELK_PROGRAM, {"--help"}).find("serve"), std::string::npos);
}

TEST_F(ServeTest, UnknownCommandOrOptionIsAUsageError) {
    for (std::vector<std::string> arguments : {std::vector<std::string>{"frobnicate"}, {"--loud"}, {"serve", "x"}}) {
        Child child(TRELK_PROGRAM, arguments);
        EXPECT_EQ(child.readAll(), "") << "the usage goes to standard error";
        EXPECT_EQ(child.wait(), 2);
    }
}

TEST_F(ServeTest, PageThatPairsThroughTheTerminalGetsAWorkingToken) {
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";

    const std::string token = pair(service);
    ASSERT_FALSE(token.empty());

    EXPECT_EQ(curl({url("/trelk/hello?t=" + token)}), R"({"app":"vorlane-trelk","paired":true,"version":"0.1.0"})");
    EXPECT_EQ(curl({"-w", "\n%{http_code}", url("/trelk/library")}), "{\"error\":\"pair first\"}\n401");
    EXPECT_EQ(curl({"-w", "\n%{http_code}", url("/trelk/library?t=" + token)}), "{\"assets\":[],\"jobs\":[]}\n200");

    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
    const auto store = folder / "data" / "vorlane Trelk" / "tokens.json";
    EXPECT_EQ(modeOf(store), 0600u);
    EXPECT_EQ(json::parse(readFile(store)), (json{{token, "https://vorlane.app"}}));
}

TEST_F(ServeTest, ASecondServiceOfTheSameUserRefusesAndTheFirstKeepsServing) {
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";

    Child second("/bin/sh", {"-c", "exec \"$0\" serve 2>&1", TRELK_PROGRAM}, environment());
    EXPECT_EQ(second.readAll(), "vorlane Trelk is already running\n");
    EXPECT_EQ(second.wait(), 1);

    EXPECT_EQ(curl({url("/trelk/hello")}), R"({"app":"vorlane-trelk","paired":false,"version":"0.1.0"})");
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
}

TEST_F(ServeTest, AMasterDroppedInTheLibraryIsMadeListedAndServedInRanges) {
    const fs::path drop = folder / "Movies" / "vorlane Library" / "Drop here";
    fs::create_directories(drop);
    const fs::path master = TestMedia::video(drop / "Sunrise.mp4", 320, 180);
    fs::last_write_time(master, fs::file_time_type::clock::now() - std::chrono::seconds(60));
    const std::string bytes = readFile(master);
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
    const std::string token = pair(service);

    std::vector<std::string> told;
    const std::string prompt = "choose 1–2 [1]: "; // the answer's line break is not echoed here
    while (std::optional<std::string> line = service.readLine()) {
        told.push_back(line->starts_with(prompt) ? line->substr(prompt.size()) : *line);
        if (told.back().starts_with("made") || told.back().starts_with("failed")) break;
    }
    EXPECT_THAT(told, testing::IsSupersetOf({"Linked · 1 browser", "queued · Sunrise.mp4", "made · Sunrise.mp4"}));
    json listing;
    for (int poll = 0; poll < 100; ++poll, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        listing = json::parse(curl({url("/trelk/library?t=" + token)}));
        if (listing["assets"].size() == 1) break;
    }
    ASSERT_EQ(listing["assets"].size(), 1u) << listing;
    EXPECT_EQ(listing["jobs"], json::array());
    const json asset = listing["assets"][0];
    EXPECT_EQ(asset["file"], "Sunrise.mp4");
    const std::string file = url("/trelk/file/" + asset["id"].get<std::string>() + "/Sunrise.mp4?t=" + token);
    EXPECT_EQ(curl({"-H", "Range: bytes=100-199", "-w", "\n%{http_code}", file}), bytes.substr(100, 100) + "\n206");
    EXPECT_EQ(curl({file}), bytes);
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
}

TEST_F(ServeTest, AStoreThatIsANamedPipeIsNeitherWaitedForNorReplaced) {
    const auto store = folder / "data" / "vorlane Trelk" / "tokens.json";
    std::filesystem::create_directories(store.parent_path());
    ASSERT_EQ(::mkfifo(store.c_str(), 0600), 0);
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    const std::string line = service.readLine().value_or("");
    EXPECT_TRUE(line.starts_with("listening on") || line.starts_with("Trelk off")) << line;
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
}

// The socket systemd gives a Type=notify service, in NOTIFY_SOCKET; the next message, or none.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path& path) : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    std::optional<std::string> next() {
        pollfd readable{fd.get(), POLLIN, 0};
        if (::poll(&readable, 1, 10'000) != 1) return std::nullopt;
        char message[4096];
        const ssize_t size = ::recv(fd.get(), message, sizeof message, 0);
        return size < 0 ? std::nullopt : std::optional<std::string>(std::string(message, size_t(size)));
    }

private:
    Files::Descriptor fd;
};

TEST_F(ServeTest, UnderSystemdItSaysWhenReadyAndWhenStoppingAndMarksErrorsForTheJournal) {
    NotifySocket notify(folder / "notify");
    std::map<std::string, std::string> managed = environment();
    managed["NOTIFY_SOCKET"] = (folder / "notify").string();
    Child service(TRELK_PROGRAM, {"serve"}, managed);
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
    EXPECT_EQ(notify.next(), "READY=1\nSTATUS=Not linked · open VorlaneWeb in Chrome to pair");

    // Its standard error is the journal's stream, as systemd names it.
    Child second("/bin/sh", {"-c", "exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i /dev/stderr) exec \"$0\" serve", TRELK_PROGRAM},
                 environment());
    EXPECT_EQ(second.readAll(), "<3>vorlane Trelk is already running\n");
    EXPECT_EQ(second.wait(), 1);

    service.signal(SIGTERM);
    EXPECT_EQ(notify.next(), "STOPPING=1");
    EXPECT_EQ(service.wait(), 0);
}

TEST_F(ServeTest, WithoutAHomeOrWithTheLibraryOnADiskNotMountedItSaysSoAndMakesNoFolder) {
    const auto serve = [&](const fs::path& home) {
        std::map<std::string, std::string> started = environment();
        started["HOME"] = home.string();
        Child child("/bin/sh", {"-c", "exec \"$0\" serve 2>&1 </dev/null", TRELK_PROGRAM}, started);
        std::string told = child.readAll();
        return std::pair{told, child.wait()};
    };
    const auto [noHome, noHomeStatus] = serve(folder / "gone");
    EXPECT_THAT(noHome, testing::HasSubstr("no home folder")) << noHome;
    EXPECT_EQ(noHomeStatus, 1);
    EXPECT_FALSE(fs::exists(folder / "gone"));

    fs::create_symlink(folder / "disk" / "Movies", folder / "Movies"); // the disk is not mounted
    const auto [notMounted, notMountedStatus] = serve(folder.path());
    EXPECT_THAT(notMounted, testing::HasSubstr("does not exist (a disk not mounted yet?)")) << notMounted;
    EXPECT_EQ(notMountedStatus, 75) << "a service manager may try again";
    EXPECT_FALSE(fs::exists(folder / "disk"));
}

TEST_F(ServeTest, InterruptDuringThePairingDialogEndsCleanly) {
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
    curl({"-X", "POST", "-H", "Origin: http://localhost", url("/trelk/pair")});
    EXPECT_EQ(service.readLine(), "Allow VorlaneWeb to use your library?");
    service.signal(SIGINT);
    EXPECT_EQ(service.wait(), 0);
}

TEST_F(ServeTest, APostedProjectIsKeptAcrossARestart) {
    const std::string walls = R"({"id":"p1","name":"Show","walls":[{"id":"w1","name":"Left","w":1920,"h":1080,"fps":"25"}])";
    const std::string list = R"(,"list":{"wall":"w1","at":5,"items":[{"id":"i1","name":"a.mp4","lib":"a"}]})";
    std::string token;
    {
        Child service(TRELK_PROGRAM, {"serve"}, environment());
        if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
        token = pair(service);
        EXPECT_EQ(curl({"--data-binary", walls + list + "}", url("/trelk/project?t=" + token)}), R"({"files":["a"],"list":null})");
        service.signal(SIGTERM);
        EXPECT_EQ(service.wait(), 0);
    }
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    const std::string line = service.readLine().value_or("");
    if (!line.starts_with("listening on 127.0.0.1:")) GTEST_SKIP() << "the service's ports are taken on this machine";
    port = line.substr(line.rfind(':') + 1);
    // A browser without the list gets the one kept since the last run.
    const json reply = json::parse(curl({"--data-binary", walls + "}", url("/trelk/project?t=" + token)}));
    EXPECT_EQ(reply["files"], json({"a"}));
    EXPECT_EQ(reply["list"]["items"][0]["lib"], "a");
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
}

TEST_F(ServeTest, CleanupPrintsThePlanAndTrashesOnlyWhileNoServiceOfThisUserRuns) {
    const fs::path library = folder / "Movies" / "vorlane Library";
    fs::create_directories(library);
    TestMedia::video(library / "clip.mp4", 64, 36);
    Child plan(TRELK_PROGRAM, {"cleanup"}, environment());
    const std::string printed = plan.readAll();
    EXPECT_EQ(plan.wait(), 0);
    EXPECT_THAT(printed, testing::HasSubstr("unused · Not used by any wall"));
    EXPECT_THAT(printed, testing::HasSubstr("- clip.mp4"));
    {
        Child service(TRELK_PROGRAM, {"serve"}, environment());
        if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
        Child refused(TRELK_PROGRAM, {"cleanup", "--trash", "unused"}, environment());
        EXPECT_EQ(refused.wait(), 1);
        EXPECT_TRUE(fs::exists(library / "clip.mp4"));
        service.signal(SIGTERM);
        EXPECT_EQ(service.wait(), 0);
    }
    // Another user's service, on the ports this one would take, is no matter: only this user's lock is.
    fs::create_directories(folder / "other" / "runtime");
    fs::permissions(folder / "other" / "runtime", fs::perms::owner_all);
    Child other(TRELK_PROGRAM, {"serve"},
                {{"HOME", (folder / "other").string()},
                 {"XDG_DATA_HOME", (folder / "other" / "data").string()},
                 {"XDG_RUNTIME_DIR", (folder / "other" / "runtime").string()}});
    EXPECT_TRUE(other.readLine().value_or("").starts_with("listening on 127.0.0.1:"));
    Child trashed(TRELK_PROGRAM, {"cleanup", "--trash", "unused"}, environment());
    EXPECT_EQ(trashed.wait(), 0);
    EXPECT_FALSE(fs::exists(library / "clip.mp4"));
    EXPECT_TRUE(fs::exists(folder / "data" / "Trash" / "files" / "clip.mp4"));
    other.signal(SIGTERM);
    EXPECT_EQ(other.wait(), 0);
}

} // namespace
