// The real program, started as a user would start it, talked to with a real HTTP client.
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>

namespace {

using nlohmann::json;

class ServeTest : public testing::Test {
protected:
    std::map<std::string, std::string> environment() {
        return {{"HOME", folder.path().string()}, {"XDG_DATA_HOME", (folder / "data").string()}};
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
    ASSERT_EQ(state.value("state", ""), "allowed");
    const std::string token = state.at("token");

    EXPECT_EQ(curl({url("/trelk/hello?t=" + token)}), R"({"app":"vorlane-trelk","paired":true,"version":"0.1.0"})");
    EXPECT_EQ(curl({"-w", "\n%{http_code}", url("/trelk/library")}), "{\"error\":\"pair first\"}\n401");
    EXPECT_EQ(curl({"-w", "\n%{http_code}", url("/trelk/library?t=" + token)}), "{\"assets\":[],\"jobs\":[]}\n200");

    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(), 0);
    const auto store = folder / "data" / "vorlane Trelk" / "tokens.json";
    EXPECT_EQ(modeOf(store), 0600u);
    EXPECT_EQ(json::parse(readFile(store)), (json{{token, "https://vorlane.app"}}));
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

TEST_F(ServeTest, InterruptDuringThePairingDialogEndsCleanly) {
    Child service(TRELK_PROGRAM, {"serve"}, environment());
    if (!listening(service)) GTEST_SKIP() << "the service's ports are taken on this machine";
    curl({"-X", "POST", "-H", "Origin: http://localhost", url("/trelk/pair")});
    EXPECT_EQ(service.readLine(), "Allow VorlaneWeb to use your library?");
    service.signal(SIGINT);
    EXPECT_EQ(service.wait(), 0);
}

} // namespace
