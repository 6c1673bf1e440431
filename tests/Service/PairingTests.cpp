#include "TrelkCore/Service/Pairing.h"

#include "TrelkCore/Build.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <cctype>
#include <set>

using namespace std::chrono_literals;
using json = nlohmann::json;
using Kind = Pairing::State::Kind;

namespace {

constexpr const char* page = "https://page.example";

// A store on a clock that only moves when the test says so.
class PairingTest : public testing::Test {
protected:
    std::chrono::steady_clock::time_point time{};
    TempFolder folder;
    std::filesystem::path store = folder / "service" / "tokens.json";

    Pairing makePairing() { return Pairing(store, [this] { return time; }); }
    void advance(std::chrono::seconds by) { time += by; }
};

std::string uppercased(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Allows the request and returns the token it was given.
std::string allow(Pairing& pairing, const std::string& id) {
    pairing.answer(id, Pairing::Decision::allow);
    Pairing::State state = pairing.state(id);
    EXPECT_EQ(state.kind, Kind::allowed);
    return state.value;
}

bool isLowerHex(const std::string& text) {
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

TEST_F(PairingTest, PendingRequestExpiresAtTheEndOfItsLifetime) {
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    advance(119s);
    EXPECT_EQ(pairing.state(made.id), Pairing::State::pending(made.code));
    advance(1s);
    EXPECT_EQ(pairing.state(made.id), Pairing::State::unknown());
    advance(100s);
    EXPECT_EQ(pairing.state(made.id), Pairing::State::unknown());
}

TEST_F(PairingTest, ChangedLifetimeIsUsed) {
    Pairing pairing = makePairing();
    EXPECT_EQ(pairing.ttl(), 120s);
    pairing.setTTL(5s);
    Pairing::Request made = pairing.request(page);
    advance(4s);
    EXPECT_EQ(pairing.state(made.id).kind, Kind::pending);
    advance(1s);
    EXPECT_EQ(pairing.state(made.id).kind, Kind::unknown);
}

TEST_F(PairingTest, AllowedAnswerIsReportedUntilAnotherRequestDropsIt) {
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    advance(10s);
    pairing.answer(made.id, Pairing::Decision::allow);
    advance(290s);
    Pairing::State state = pairing.state(made.id);
    ASSERT_EQ(state.kind, Kind::allowed);
    EXPECT_TRUE(pairing.valid(state.value));

    pairing.request("http://localhost:3000");
    EXPECT_EQ(pairing.state(made.id), Pairing::State::unknown());
    EXPECT_TRUE(pairing.valid(state.value));
}

TEST_F(PairingTest, AnAnswerAfterTheRequestExpiredIssuesNoToken) {
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    advance(100s);
    EXPECT_EQ(pairing.timeLeft(made.id), std::chrono::duration<double>(20s));
    advance(20s);
    EXPECT_EQ(pairing.timeLeft(made.id), std::nullopt);
    pairing.answer(made.id, Pairing::Decision::allow);
    EXPECT_EQ(pairing.state(made.id).kind, Kind::unknown);
    EXPECT_EQ(pairing.count(), 0);
}

TEST_F(PairingTest, AFloodOfRequestsKeepsOnlyTheNewestPending) {
    Pairing pairing = makePairing();
    std::vector<Pairing::Request> made;
    for (int i = 0; i < 10000; ++i) {
        made.push_back(pairing.request(page));
        time += 1ms; // each newer than the one before
    }
    size_t pendingCount = 0;
    for (const Pairing::Request& request : made) pendingCount += pairing.state(request.id).kind == Kind::pending;
    EXPECT_EQ(pendingCount, Pairing::mostPending);
    EXPECT_EQ(pairing.state(made.back().id).kind, Kind::pending);
    EXPECT_EQ(pairing.state(made.front().id).kind, Kind::unknown);
}

TEST_F(PairingTest, DeniedRequestStaysDeniedAndIssuesNoToken) {
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    pairing.answer(made.id, Pairing::Decision::deny);
    advance(300s);
    EXPECT_EQ(pairing.state(made.id), Pairing::State::denied());
    EXPECT_EQ(pairing.count(), 0);
    EXPECT_FALSE(std::filesystem::exists(store));
}

TEST_F(PairingTest, SecondAnswerIsIgnored) {
    Pairing pairing = makePairing();
    Pairing::Request allowedFirst = pairing.request(page);
    pairing.answer(allowedFirst.id, Pairing::Decision::allow);
    Pairing::State first = pairing.state(allowedFirst.id);
    pairing.answer(allowedFirst.id, Pairing::Decision::deny);
    pairing.answer(allowedFirst.id, Pairing::Decision::allow);
    EXPECT_EQ(pairing.state(allowedFirst.id), first);
    EXPECT_EQ(pairing.count(), 1);

    Pairing::Request deniedFirst = pairing.request(page);
    pairing.answer(deniedFirst.id, Pairing::Decision::deny);
    pairing.answer(deniedFirst.id, Pairing::Decision::allow);
    EXPECT_EQ(pairing.state(deniedFirst.id), Pairing::State::denied());
    EXPECT_EQ(pairing.count(), 1);
}

TEST_F(PairingTest, UnknownIdReadsUnknownAndItsAnswerDoesNothing) {
    Pairing pairing = makePairing();
    pairing.request(page);
    EXPECT_EQ(pairing.state("0123"), Pairing::State::unknown());
    EXPECT_EQ(pairing.state(""), Pairing::State::unknown());
    pairing.answer("0123", Pairing::Decision::allow);
    EXPECT_EQ(pairing.count(), 0);
    EXPECT_FALSE(std::filesystem::exists(store));
}

TEST_F(PairingTest, ValidNeedsAKnownNonEmptyToken) {
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    std::string token = allow(pairing, made.id);
    EXPECT_TRUE(pairing.valid(token));
    EXPECT_FALSE(pairing.valid(std::nullopt));
    EXPECT_FALSE(pairing.valid(""));
    EXPECT_FALSE(pairing.valid(token.substr(1)));
    EXPECT_FALSE(pairing.valid(made.id));
}

TEST_F(PairingTest, TokensAreStoredWithTheirOriginAndSurviveARestart) {
    Pairing::Request made;
    std::string token;
    {
        Pairing pairing = makePairing();
        made = pairing.request(page);
        token = allow(pairing, made.id);
    }
    EXPECT_EQ(json::parse(readFile(store)), json({{token, page}}));
    EXPECT_EQ(modeOf(store), 0600u);

    Pairing reopened = makePairing();
    EXPECT_EQ(reopened.count(), 1);
    EXPECT_TRUE(reopened.valid(token));
    // Pending requests are not kept across a restart.
    EXPECT_EQ(reopened.state(made.id), Pairing::State::unknown());
}

TEST_F(PairingTest, ForgetAllEmptiesTheStoreButKeepsPendingRequests) {
    Pairing pairing = makePairing();
    Pairing::Request paired = pairing.request(page);
    std::string oldToken = allow(pairing, paired.id);
    Pairing::Request waiting = pairing.request(page);

    pairing.forgetAll();
    EXPECT_FALSE(pairing.valid(oldToken));
    EXPECT_EQ(pairing.count(), 0);
    EXPECT_EQ(readFile(store), "{}");
    EXPECT_EQ(modeOf(store), 0600u);

    EXPECT_TRUE(pairing.valid(allow(pairing, waiting.id)));
    EXPECT_EQ(makePairing().count(), 1);
}

TEST_F(PairingTest, BadStoreLoadsAsNoTokensAndIsLeftAloneUntilTheNextChange) {
    const std::string contents[] = {
        R"({"aa": "https://page.example", "bb": 7})",
        R"({"aa": null})",
        R"(["aa", "bb"])",
        R"("aa")",
        "{\"aa\": \"https://page.example\"",
        "not json at all",
        "",
    };
    std::filesystem::create_directories(store.parent_path());
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        writeFile(store, content);
        Pairing pairing = makePairing();
        EXPECT_EQ(pairing.count(), 0);
        EXPECT_FALSE(pairing.valid("aa"));
        EXPECT_EQ(readFile(store), content);

        Pairing::Request made = pairing.request(page);
        pairing.answer(made.id, Pairing::Decision::allow);
        EXPECT_EQ(json::parse(readFile(store)).size(), 1u);
        EXPECT_EQ(readFile(store.string() + ".unreadable"), content) << "kept aside, never lost";
    }
}

TEST_F(PairingTest, MissingStoreLoadsAsNoTokens) {
    EXPECT_EQ(makePairing().count(), 0);
    EXPECT_FALSE(std::filesystem::exists(store));
}

TEST_F(PairingTest, StoreWithEscapesLoads) {
    std::filesystem::create_directories(store.parent_path());
    writeFile(store, R"({"aa": "https:\/\/page.example", "bb": "http:\/\/localhost:\u0033000"})");
    Pairing pairing = makePairing();
    EXPECT_EQ(pairing.count(), 2);
    EXPECT_TRUE(pairing.valid("bb"));
}

TEST_F(PairingTest, UnwritableStoreKeepsTokensInMemory) {
    writeFile(folder / "service", "a file where the folder should be");
    Pairing pairing = makePairing();
    Pairing::Request made = pairing.request(page);
    EXPECT_TRUE(pairing.valid(allow(pairing, made.id)));
    pairing.forgetAll();
    EXPECT_EQ(pairing.count(), 0);
}

TEST(Pairing, WorksWithoutAStore) {
    Pairing pairing(std::nullopt);
    Pairing::Request made = pairing.request(page);
    EXPECT_EQ(pairing.state(made.id).kind, Kind::pending);
    EXPECT_TRUE(pairing.valid(allow(pairing, made.id)));
}

TEST(Pairing, RandomValuesHaveTheirForms) {
    Pairing pairing(std::nullopt);
    std::set<std::string> ids;
    bool sawLeadingZero = false;
    // Among 500 uniform codes one below 1000 is all but certain (1 − 0.9^500).
    for (int i = 0; i < 500; ++i) {
        Pairing::Request made = pairing.request(page);
        ASSERT_EQ(made.code.size(), 4u) << made.code;
        ASSERT_EQ(made.code.find_first_not_of("0123456789"), std::string::npos) << made.code;
        sawLeadingZero = sawLeadingZero || made.code.front() == '0';
        ASSERT_EQ(made.id.size(), 32u);
        ASSERT_TRUE(isLowerHex(made.id)) << made.id;
        ids.insert(made.id);
        EXPECT_EQ(pairing.state(made.id), Pairing::State::pending(made.code));
    }
    EXPECT_TRUE(sawLeadingZero);
    EXPECT_EQ(ids.size(), 500u);

    Pairing::Request made = pairing.request(page);
    std::string token = allow(pairing, made.id);
    EXPECT_EQ(token.size(), 64u);
    EXPECT_TRUE(isLowerHex(token)) << token;
}

TEST(Origins, AllowedSites) {
    const std::string web = Build::webHost;
    const std::string www = Build::webWWWHost;
    const std::string beta = Build::webBetaHost;
    const std::string preview = Build::webPreviewSuffix;
    const std::pair<std::string, bool> cases[] = {
        {"https://" + web, true},
        {"https://" + www, true},
        {"https://" + beta, true},
        {"https://" + web + "/", true},
        {"HTTPS://" + uppercased(web), true},
        {"https://" + web + ":443", false},
        {"https://" + web + ":8443", false},
        {"https://" + web + ":", false},
        {"https://" + web + "/app", false},
        {"https://" + web + "//", false},
        {"https://" + web + "/?", false},
        {"https://" + web + "?x=1", false},
        {"https://" + web + "#top", false},
        {"https://user@" + web, false},
        {"https://user:secret@" + web, false},
        {"https://" + web + ".", false},
        {"https://" + web + ".example", false},
        {"https://evil." + web, false},
        {"https://" + web + " ", false},
        {" https://" + web, false},
        {"http://" + web, false},
        {"wss://" + web, false},
        {"https//" + web, false},
        {"https:" + web, false},
        {web, false},
        {"https://vorlane-app-git-main" + preview, true},
        {"https://vorlane-app-" + preview, true},
        {"https://VORLANE-APP-Feature" + preview, true},
        {"https://vorlane-app-a.b" + preview, false},
        {"https://vorlane-app-x" + preview + ":443", false},
        {"https://vorlane-app-x" + preview + "/x", false},
        {"http://vorlane-app-x" + preview, false},
        {"https://vorlane-appx" + preview, false},
        {"https://other-app-x" + preview, false},
        {"https://x.vorlane-app-x" + preview, false},
        {"https://vorlane-app-x" + preview + ".evil", false},
        {"http://localhost", true},
        {"http://localhost:3000", true},
        {"http://localhost:0", true},
        {"http://localhost:65535", true},
        {"http://localhost:3000/", true},
        {"HTTP://LocalHost:8080", true},
        {"http://127.0.0.1", true},
        {"http://127.0.0.1:5173", true},
        {"http://localhost:65536", false},
        {"http://localhost:99999999999999999999999", false},
        {"http://localhost:", false},
        {"http://localhost:80a", false},
        {"http://localhost:+80", false},
        {"http://localhost:-80", false},
        {"http://localhost:80:81", false},
        {"http://localhost:3000/app", false},
        {"http://localhost.evil", false},
        {"http://127.0.0.2", false},
        {"http://[::1]:3000", false},
        {"http://user@localhost", false},
        {"https://localhost", false},
        {"https://127.0.0.1", false},
        {"ftp://localhost", false},
        {"http://", false},
        {"http://:3000", false},
        {"://localhost", false},
        {"1http://localhost", false},
        {"null", false},
        {"", false},
        {"http://local\xC3\xA9host", false},
        {std::string("http://localhost\0", 17), false},
    };
    for (const auto& [origin, expected] : cases) {
        EXPECT_EQ(Origins::allowed(origin), expected) << '"' << origin << '"';
    }
    EXPECT_FALSE(Origins::allowed(std::nullopt));
}

TEST(Origins, HeadersLetTheOriginReadTheReply) {
    const std::map<std::string, std::string> expected = {
        {"Access-Control-Allow-Origin", "http://localhost:3000"},
        {"Vary", "Origin"},
        {"Access-Control-Allow-Private-Network", "true"},
        {"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
        {"Access-Control-Allow-Headers", "Content-Type, Range"},
        {"Access-Control-Expose-Headers", "Content-Range, Content-Length, Accept-Ranges"},
    };
    EXPECT_EQ(Origins::headers("http://localhost:3000"), expected);
}
