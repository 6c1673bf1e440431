#include "TrelkCore/Service/Router.h"

#include "TrelkCore/Build.h"
#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Service/Server.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using json = nlohmann::json;
using testing::HasSubstr;

// Found by argument-dependent lookup, so it must live beside HTTPResponse.
void PrintTo(const HTTPResponse::File& file, std::ostream* out) {
    *out << "file " << file.lower << "…" << file.upper;
}

namespace {

const std::string page = "http://localhost:5173";
const std::string production = std::string("https://") + Build::webHost;
const std::string foreign = "https://elsewhere.example";

const std::vector<std::string> corsNames{
    "Access-Control-Allow-Origin",   "Vary", "Access-Control-Allow-Private-Network",
    "Access-Control-Allow-Methods",  "Access-Control-Allow-Headers",
    "Access-Control-Expose-Headers",
};

HTTPHeaders expectedCORS(const std::string& origin) {
    return {
        {"Access-Control-Allow-Origin", origin},
        {"Vary", "Origin"},
        {"Access-Control-Allow-Private-Network", "true"},
        {"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
        {"Access-Control-Allow-Headers", "Content-Type, Range"},
        {"Access-Control-Expose-Headers", "Content-Range, Content-Length, Accept-Ranges"},
    };
}

// The CORS headers a reply carries, and only those.
HTTPHeaders corsOf(const HTTPResponse& response) {
    HTTPHeaders found;
    for (const std::string& name : corsNames)
        if (auto header = response.headers.find(name); header != response.headers.end())
            found.insert(*header);
    return found;
}

std::string header(const HTTPResponse& response, const std::string& name) {
    auto found = response.headers.find(name);
    return found == response.headers.end() ? "<none>" : found->second;
}

std::string textOf(const HTTPResponse& response) {
    const auto* text = std::get_if<std::string>(&response.body);
    return text ? *text : "<file body>";
}

void expectError(const HTTPResponse& response, int status, std::string_view message) {
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(textOf(response), json({{"error", message}}).dump());
    EXPECT_EQ(header(response, "Content-Type"), "application/json");
}

// A request as the parser would make it from this target and origin.
HTTPRequest requestTo(std::string method, std::string_view target,
                      std::optional<std::string> origin = std::nullopt, std::string body = {}) {
    std::set<std::string> undecoded;
    auto [path, query] = HTTPRequest::split(target, &undecoded);
    HTTPHeaders headers;
    if (origin) headers["Origin"] = *origin;
    HTTPRequest request(std::move(method), std::move(path), std::move(query), std::move(headers), std::move(body));
    request.undecoded = std::move(undecoded);
    return request;
}

std::optional<HTTPResponse> refusalOf(const UploadStart& start) {
    const auto* refuse = std::get_if<UploadStart::Refuse>(&start.value);
    if (!refuse) return std::nullopt;
    return refuse->response;
}

struct PairCall {
    std::string id;
    std::string code;
    std::string origin;
};

Router::Assets noAssets() { return AssetListing::of(nullptr); }
std::vector<Job> noJobs() { return {}; }

class RouterTest : public testing::Test {
protected:
    Pairing pairing{std::nullopt};
    std::vector<PairCall> pairCalls;
    TempFolder folder;
    Uploads uploads{folder / "Drop here", [](const std::vector<std::filesystem::path>& files) {
                        return std::vector<std::optional<std::string>>(files.size());
                    }};
    Projects projects{std::nullopt};
    Router router{"1.2.3",
                  {pairing, uploads, projects, folder.path(), noAssets, noJobs,
                   [this](std::string id, std::string code, std::string origin) {
                       pairCalls.push_back({std::move(id), std::move(code), std::move(origin)});
                   }}};

    // A token the pairing store knows, given to the page.
    std::string pairedToken() {
        Pairing::Request asked = pairing.request(page);
        pairing.answer(asked.id, Pairing::Decision::allow);
        return pairing.state(asked.id).value;
    }

    HTTPResponse handle(std::string method, std::string_view target,
                        std::optional<std::string> origin = std::nullopt) {
        return router.handle(requestTo(std::move(method), target, std::move(origin)));
    }
};

struct Call {
    std::string method;
    std::string target;
};

// Protected endpoints that reach a store.
const std::vector<Call> storeCalls{
    {"POST", "/trelk/project"},
    {"GET", "/trelk/upload"},
    {"POST", "/trelk/upload"},
};

const std::vector<Call> protectedCalls = [] {
    std::vector<Call> calls{{"GET", "/trelk/library"}, {"GET", "/trelk/file/a0123456789abcdef0123/clip.mov"}};
    calls.insert(calls.end(), storeCalls.begin(), storeCalls.end());
    return calls;
}();

// --- Gate and preflight

TEST_F(RouterTest, DisallowedOriginIsRefusedAtTheGateWithoutCORSHeaders) {
    std::string token = pairedToken();
    const std::vector<std::pair<Call, std::string>> cases{
        {{"GET", "/trelk/hello"}, foreign},
        {{"GET", "/trelk/hello"}, "null"},
        {{"GET", "/trelk/hello"}, ""},
        {{"GET", "/trelk/hello"}, production + ":443"},
        {{"GET", "/trelk/hello"}, page + "/app"},
        {{"OPTIONS", "/trelk/hello"}, foreign},
        {{"POST", "/trelk/pair"}, foreign},
        {{"GET", "/trelk/library?t=" + token}, foreign},
        {{"GET", "/elsewhere"}, foreign},
    };
    for (const auto& [call, origin] : cases) {
        SCOPED_TRACE(call.method + " " + call.target + " from " + origin);
        HTTPResponse response = handle(call.method, call.target, origin);
        expectError(response, 403, "not an allowed site");
        EXPECT_EQ(corsOf(response), HTTPHeaders{});
        EXPECT_EQ(header(response, "Cache-Control"), "no-store");
    }
    EXPECT_TRUE(pairCalls.empty());
}

TEST_F(RouterTest, AHostThatIsNotALoopbackNameIsRefusedAtTheGate) {
    auto withHost = [](std::string method, std::string target, std::string host) {
        HTTPRequest request = requestTo(std::move(method), target);
        request.headers["host"] = std::move(host);
        return request;
    };
    for (const std::string host : {"127.0.0.1:47615", "localhost", "LOCALHOST:47616", "[::1]:47617", "[::1]"})
        EXPECT_EQ(router.handle(withHost("GET", "/trelk/hello", host)).status, 200) << host;
    for (const std::string host : {"rebound.example", "rebound.example:47615", "localhost.example", "127.0.0.1:x",
                                   "127.0.0.10", "[::1]:99999", ""}) {
        SCOPED_TRACE(host);
        expectError(router.handle(withHost("GET", "/trelk/hello", host)), 403, "not an allowed site");
        HTTPRequest upload = withHost("POST", "/trelk/upload?t=" + pairedToken(), host);
        upload.headers["origin"] = page;
        const std::optional<HTTPResponse> refusal = refusalOf(router.upload(upload));
        ASSERT_TRUE(refusal);
        expectError(*refusal, 403, "not an allowed site");
    }
}

TEST_F(RouterTest, AReplyToHeadSendsNeitherBodyNorLength) {
    const HTTPResponse response = handle("HEAD", "/trelk/hello");
    EXPECT_EQ(response.status, 405);
    EXPECT_TRUE(response.headOnly);
    EXPECT_EQ(response.head().find("Content-Length"), std::string::npos);
}

TEST_F(RouterTest, RequestWithoutOriginPassesTheGateWithoutCORSHeaders) {
    HTTPResponse response = handle("GET", "/trelk/hello");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(json::parse(textOf(response))["paired"], false);
    EXPECT_EQ(corsOf(response), HTTPHeaders{});
    EXPECT_EQ(header(response, "Cache-Control"), "no-store");
}

TEST_F(RouterTest, PreflightOnAnyPathFromAnAllowedOriginGetsOnlyCORSHeaders) {
    HTTPHeaders expected = expectedCORS(page);
    expected["Cache-Control"] = "no-store";
    for (std::string target : {"/anything", "/", "/trelk/hello", "/trelk/file/a/b", "/trelk/upload"}) {
        SCOPED_TRACE(target);
        HTTPResponse response = handle("OPTIONS", target, page);
        EXPECT_EQ(response.status, 204);
        EXPECT_EQ(response.headers, expected);
        EXPECT_EQ(textOf(response), "");
        EXPECT_THAT(response.head(), HasSubstr("\r\nContent-Length: 0\r\n"));
    }
}

TEST_F(RouterTest, PreflightWithoutOriginGetsNoContentAndNoCORSHeaders) {
    HTTPResponse response = handle("OPTIONS", "/trelk/library");
    EXPECT_EQ(response.status, 204);
    EXPECT_EQ(response.headers, (HTTPHeaders{{"Cache-Control", "no-store"}}));
    EXPECT_EQ(textOf(response), "");
}

// --- Dispatch

TEST_F(RouterTest, UnmatchedPathsAreNotFound) {
    const std::vector<Call> calls{
        {"GET", "/elsewhere"},          {"GET", "/"},
        {"GET", ""},                    {"GET", "/trelk"},
        {"GET", "/trelk/nothing"},      {"GET", "/elsewhere/trelk/hello"},
        {"GET", "/trelk/hello/extra"},  {"GET", "/trelk/pair/x/y"},
        {"GET", "/trelk/Hello"},        {"GET", "/TRELK/hello"},
        {"GET", "/trelk/LIBRARY"},      {"GET", "/trelk/file"},
        {"GET", "/trelk/file/a"},       {"GET", "/trelk/file/a/b/c"},
        {"POST", "/trelk/file/a/b"},    {"DELETE", "/trelk/nothing"},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.method + " " + call.target);
        expectError(handle(call.method, call.target, page), 404, "not found");
    }
}

TEST_F(RouterTest, KnownEndpointWithAnotherMethodIsNotAllowed) {
    const std::vector<Call> calls{
        {"POST", "/trelk/hello"},  {"HEAD", "/trelk/hello"},   {"GET", "/trelk/project"},
        {"POST", "/trelk/library"}, {"GET", "/trelk/pair"},    {"PUT", "/trelk/upload"},
        {"DELETE", "/trelk/project"},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.method + " " + call.target);
        expectError(handle(call.method, call.target, page), 405, "method not allowed");
    }
}

TEST_F(RouterTest, EmptySegmentsAreDropped) {
    for (std::string target : {"//trelk//hello", "/trelk/hello/", "///trelk///hello///"}) {
        SCOPED_TRACE(target);
        HTTPResponse response = handle("GET", target);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(json::parse(textOf(response))["app"], "vorlane-trelk");
    }
}

// --- Token rule

TEST_F(RouterTest, ProtectedEndpointsWithoutAValidTokenAskToPairFirst) {
    std::string token = pairedToken();
    const std::vector<std::string> queries{"", "?t=", "?t", "?t=unknown", "?T=" + token,
                                           "?token=" + token, "?t=" + token + "0"};
    for (const Call& call : protectedCalls)
        for (const std::string& query : queries) {
            SCOPED_TRACE(call.method + " " + call.target + query);
            expectError(handle(call.method, call.target + query, page), 401, "pair first");
        }
}

TEST_F(RouterTest, ForgottenTokenNoLongerPasses) {
    std::string token = pairedToken();
    pairing.forgetAll();
    expectError(handle("GET", "/trelk/library?t=" + token, page), 401, "pair first");
}

// --- Hello

TEST_F(RouterTest, HelloNamesTheAppAndVersionAndIsUnpairedWithoutAValidToken) {
    pairedToken();
    for (std::string target : {"/trelk/hello", "/trelk/hello?t=", "/trelk/hello?t=unknown"}) {
        SCOPED_TRACE(target);
        HTTPResponse response = handle("GET", target, page);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(textOf(response), R"({"app":"vorlane-trelk","paired":false,"version":"1.2.3"})");
        EXPECT_EQ(header(response, "Content-Type"), "application/json");
    }
}

TEST_F(RouterTest, HelloIsPairedWithAValidToken) {
    HTTPResponse response = handle("GET", "/trelk/hello?t=" + pairedToken(), page);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(textOf(response), R"({"app":"vorlane-trelk","paired":true,"version":"1.2.3"})");
}

// --- Pairing endpoints

TEST_F(RouterTest, PairWithoutOriginNeedsABrowserPage) {
    expectError(handle("POST", "/trelk/pair"), 403, "pairing needs a browser page");
    EXPECT_TRUE(pairCalls.empty());
}

TEST_F(RouterTest, PairFromAnAllowedOriginStartsARequestAndTellsTheCallbackOnce) {
    HTTPResponse response = router.handle(requestTo("POST", "/trelk/pair", page, "ignored body"));
    ASSERT_EQ(response.status, 200);
    json body = json::parse(textOf(response));
    ASSERT_EQ(body.size(), 2u);
    std::string id = body.at("id").get<std::string>();
    std::string code = body.at("code").get<std::string>();
    EXPECT_THAT(code, testing::MatchesRegex("[0-9]{4}"));
    EXPECT_EQ(pairing.state(id), Pairing::State::pending(code));

    ASSERT_EQ(pairCalls.size(), 1u);
    EXPECT_EQ(pairCalls[0].id, id);
    EXPECT_EQ(pairCalls[0].code, code);
    EXPECT_EQ(pairCalls[0].origin, page);
    EXPECT_EQ(corsOf(response), expectedCORS(page));
}

TEST_F(RouterTest, PairWithoutACallbackStillAnswers) {
    Router quiet("1.2.3", {pairing, uploads, projects, folder.path(), noAssets, noJobs});
    HTTPResponse response = quiet.handle(requestTo("POST", "/trelk/pair", page));
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(json::parse(textOf(response)).contains("id"));
}

TEST_F(RouterTest, PairStateOfAPendingRequest) {
    Pairing::Request asked = pairing.request(page);
    HTTPResponse response = handle("GET", "/trelk/pair/" + asked.id, page);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(textOf(response), R"({"state":"pending"})");
}

TEST_F(RouterTest, PairStateOfAnAllowedRequestCarriesAWorkingTokenAndIsNotCached) {
    Pairing::Request asked = pairing.request(page);
    pairing.answer(asked.id, Pairing::Decision::allow);
    HTTPResponse response = handle("GET", "/trelk/pair/" + asked.id, page);
    EXPECT_EQ(response.status, 200);
    json body = json::parse(textOf(response));
    EXPECT_EQ(body.size(), 2u);
    EXPECT_EQ(body.at("state"), "allowed");
    EXPECT_TRUE(pairing.valid(body.at("token").get<std::string>()));
    EXPECT_EQ(header(response, "Cache-Control"), "no-store");
}

TEST_F(RouterTest, PairStateOfADeniedRequest) {
    Pairing::Request asked = pairing.request(page);
    pairing.answer(asked.id, Pairing::Decision::deny);
    HTTPResponse response = handle("GET", "/trelk/pair/" + asked.id, page);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(textOf(response), R"({"state":"denied"})");
}

TEST_F(RouterTest, UnknownOrExpiredPairRequestIsNoSuchRequest) {
    Pairing::Request expired = pairing.request(page);
    pairing.setTTL(std::chrono::seconds(0));
    for (std::string id : {expired.id, std::string(32, '0'), std::string("x")}) {
        SCOPED_TRACE(id);
        expectError(handle("GET", "/trelk/pair/" + id, page), 404, "no such request");
    }
}

// --- Decorate

TEST_F(RouterTest, DecorateWithAnAllowedOriginReplacesCORSHeadersAlreadyThere) {
    HTTPResponse made(200, {{"Access-Control-Allow-Origin", "*"}, {"Vary", "Accept"}, {"X-Own", "kept"}},
                      "body");
    HTTPResponse response = Router::decorate(made, page);
    EXPECT_EQ(corsOf(response), expectedCORS(page));
    EXPECT_EQ(header(response, "X-Own"), "kept");
    EXPECT_EQ(header(response, "Cache-Control"), "no-store");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(textOf(response), "body");
}

TEST_F(RouterTest, DecorateKeepsAReplysOwnCacheControl) {
    HTTPResponse made(200, {{"Cache-Control", "private, max-age=60"}});
    for (const std::optional<std::string>& origin : {std::optional(page), std::optional<std::string>()})
        EXPECT_EQ(header(Router::decorate(made, origin), "Cache-Control"), "private, max-age=60");
}

TEST_F(RouterTest, DecorateUsesTheOriginExactlyAsSent) {
    for (const std::string& origin :
         std::vector<std::string>{"HTTP://LocalHost:5173", "http://127.0.0.1:8080/", production}) {
        SCOPED_TRACE(origin);
        HTTPResponse response = Router::decorate(HTTPResponse(204, {}), origin);
        EXPECT_EQ(header(response, "Access-Control-Allow-Origin"), origin);
    }
}

TEST_F(RouterTest, DecorateAddsOnlyNoStoreForAnAbsentOrDisallowedOrigin) {
    for (const std::optional<std::string>& origin :
         {std::optional<std::string>(), std::optional(foreign), std::optional<std::string>("")}) {
        SCOPED_TRACE(origin.value_or("no origin"));
        HTTPResponse response = Router::decorate(HTTPResponse(404, {{"X-Own", "kept"}}), origin);
        EXPECT_EQ(response.headers, (HTTPHeaders{{"Cache-Control", "no-store"}, {"X-Own", "kept"}}));
    }
}

// --- Upload heads

TEST_F(RouterTest, OnlyAPostToTrelkUploadIsAnUpload) {
    std::string token = pairedToken();
    const std::vector<Call> calls{
        {"GET", "/trelk/upload"},     {"PUT", "/trelk/upload"},       {"OPTIONS", "/trelk/upload"},
        {"POST", "/trelk/uploads"},   {"POST", "/trelk/Upload"},      {"POST", "/trelk/upload/x"},
        {"POST", "/upload"},          {"POST", "/trelk"},             {"POST", "/elsewhere/trelk/upload"},
        {"POST", "/trelk/project"},
    };
    for (const Call& call : calls)
        for (const std::optional<std::string>& origin : {std::optional(page), std::optional(foreign)}) {
            SCOPED_TRACE(call.method + " " + call.target + " from " + *origin);
            UploadStart start = router.upload(requestTo(call.method, call.target + "?t=" + token, origin));
            EXPECT_TRUE(std::holds_alternative<UploadStart::NotUpload>(start.value));
        }
}

TEST_F(RouterTest, UploadIsRefusedByOriginThenTokenThenItsChecksAndDecorated) {
    std::string token = pairedToken();
    struct Case {
        std::string target;
        std::optional<std::string> origin;
        int status;
        std::string message;
    };
    const std::vector<Case> cases{
        {"/trelk/upload?t=" + token, std::nullopt, 403, "not an allowed site"},
        {"/trelk/upload?t=" + token, foreign, 403, "not an allowed site"},
        {"/trelk/upload?t=" + token, "", 403, "not an allowed site"},
        {"/trelk/upload?name=clip.mov", page, 401, "pair first"},
        {"/trelk/upload?t=&name=clip.mov", page, 401, "pair first"},
        {"/trelk/upload?t=unknown&name=clip.mov", page, 401, "pair first"},
        {"/trelk/upload?t=" + token + "&name=clip.mov", page, 411, "send the file with its size"},
        {"//trelk//upload/?t=" + token, production, 415, std::string(Uploads::notMedia)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " from " + c.origin.value_or("no origin"));
        std::optional<HTTPResponse> refused = refusalOf(router.upload(requestTo("POST", c.target, c.origin)));
        ASSERT_TRUE(refused);
        expectError(*refused, c.status, c.message);
        EXPECT_EQ(header(*refused, "Cache-Control"), "no-store");
        bool allowed = c.origin == page || c.origin == production;
        EXPECT_EQ(corsOf(*refused), allowed ? expectedCORS(*c.origin) : HTTPHeaders{});
    }
}

// --- Files

class RouterFileTest : public testing::Test {
protected:
    TempFolder folder;
    std::filesystem::path clip = folder / "clip.mov";

    void SetUp() override { writeFile(clip, "0123456789"); }
};

// The file reply to a GET of that file with these headers (a "range" among them, or none).
HTTPResponse fileReply(const std::filesystem::path& path, std::optional<std::string_view> range,
                       HTTPHeaders headers = {}) {
    if (range) headers["range"] = std::string(*range);
    return Router::file(Files::openRegular(path), path.filename().string(), HTTPRequest("GET", "/", {}, headers));
}

using Span = std::pair<int64_t, int64_t>;

// The bytes a reply's file body covers; none for a body held in memory.
std::optional<Span> fileSpan(const HTTPResponse& response) {
    const auto* file = std::get_if<HTTPResponse::File>(&response.body);
    if (!file) return std::nullopt;
    return std::pair{file->lower, file->upper};
}

TEST_F(RouterFileTest, WholeFileIsServedFromDiskWithCachingAndRangeHeaders) {
    HTTPResponse response = fileReply(clip, std::nullopt);
    EXPECT_EQ(response.status, 200);
    HTTPHeaders headers = response.headers;
    EXPECT_EQ(headers.extract("ETag").empty(), false);
    EXPECT_EQ(headers.extract("Last-Modified").empty(), false);
    EXPECT_EQ(headers, (HTTPHeaders{{"Content-Type", "video/quicktime"},
                                    {"Accept-Ranges", "bytes"},
                                    {"Cache-Control", "private, max-age=3600"}}));
    EXPECT_EQ(fileSpan(response), Span(0, 9));
    EXPECT_THAT(response.head(), HasSubstr("\r\nContent-Length: 10\r\n"));
}

TEST_F(RouterFileTest, SatisfiableRangeGivesPartialContentOfThoseBytes) {
    struct Case {
        std::string range;
        int64_t lower;
        int64_t upper;
    };
    for (const Case& c : std::vector<Case>{{"bytes=2-5", 2, 5}, {"bytes=7-", 7, 9}, {"bytes=-3", 7, 9},
                                           {"bytes=5-100", 5, 9}, {"bytes=0-0", 0, 0}}) {
        SCOPED_TRACE(c.range);
        HTTPResponse response = fileReply(clip, c.range);
        EXPECT_EQ(response.status, 206);
        EXPECT_EQ(header(response, "Content-Range"),
                  "bytes " + std::to_string(c.lower) + "-" + std::to_string(c.upper) + "/10");
        EXPECT_EQ(fileSpan(response), Span(c.lower, c.upper));
        EXPECT_EQ(header(response, "Content-Type"), "video/quicktime");
        EXPECT_EQ(header(response, "Cache-Control"), "private, max-age=3600");
    }
    EXPECT_THAT(fileReply(clip, "bytes=2-5").head(), HasSubstr("\r\nContent-Length: 4\r\n"));
}

TEST_F(RouterFileTest, UnsatisfiableRangeGives416WithTheSizeAndNoBody) {
    for (std::string range : {"bytes=20-", "bytes=10-", "bytes=6-2", "bytes=-0"}) {
        SCOPED_TRACE(range);
        HTTPResponse response = fileReply(clip, range);
        EXPECT_EQ(response.status, 416);
        EXPECT_EQ(header(response, "Content-Range"), "bytes */10");
        EXPECT_EQ(textOf(response), "");
        EXPECT_EQ(header(response, "Accept-Ranges"), "bytes");
    }
}

TEST_F(RouterFileTest, RangeThatIsNotOneByteRangeGivesTheWholeFile) {
    // Not digits: RFC 9110 has the range ignored rather than guessed at.
    for (std::string range : {"bytes=0-1,4-5", "items=0-1", "", "bytes=0-abc", "bytes=+1-2", "bytes=-"}) {
        SCOPED_TRACE(range);
        HTTPResponse response = fileReply(clip, range);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(header(response, "Content-Range"), "<none>");
        EXPECT_EQ(fileSpan(response), Span(0, 9));
    }
}

TEST_F(RouterFileTest, ContentTypeFollowsTheLowerCasedExtension) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"a.mp4", "video/mp4"},        {"a.MP4", "video/mp4"},         {"a.m4v", "video/mp4"},
        {"a.MOV", "video/quicktime"},  {"a.webm", "video/webm"},       {"a.json", "application/json"},
        {"a.png", "image/png"},        {"a.jpg", "image/jpeg"},        {"a.JPEG", "image/jpeg"},
        {"a.gif", "image/gif"},        {"a.webp", "image/webp"},       {"a.avif", "image/avif"},
        {"a.mov.txt", "application/octet-stream"}, {"a.mxf", "application/octet-stream"},
        {"noextension", "application/octet-stream"}, {"a.", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) {
        SCOPED_TRACE(name);
        writeFile(folder / name, "bytes");
        EXPECT_EQ(header(fileReply(folder / name, std::nullopt), "Content-Type"), type);
    }
}

TEST_F(RouterFileTest, EmptyFileIsServedWithAnEmptyBodyWithOrWithoutRange) {
    writeFile(folder / "empty.mp4", "");
    for (const std::optional<std::string_view>& range :
         {std::optional<std::string_view>(), std::optional<std::string_view>("bytes=0-")}) {
        SCOPED_TRACE(std::string(range.value_or("no range")));
        HTTPResponse response = fileReply(folder / "empty.mp4", range);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(textOf(response), "");
        EXPECT_EQ(header(response, "Content-Type"), "video/mp4");
        EXPECT_THAT(response.head(), HasSubstr("\r\nContent-Length: 0\r\n"));
    }
}

TEST_F(RouterFileTest, MissingFileOrFolderIsNoSuchFile) {
    std::filesystem::create_directory(folder / "folder.mov");
    for (std::filesystem::path path : {folder / "missing.mov", folder / "folder.mov",
                                       folder / "missing" / "clip.mov", clip / "inside.mov"}) {
        SCOPED_TRACE(path.string());
        HTTPResponse response = fileReply(path, "bytes=0-1");
        expectError(response, 404, "no such file");
        EXPECT_EQ(header(response, "Accept-Ranges"), "<none>");
    }
}

TEST_F(RouterFileTest, ValidatorsAnswer304AndAStaleIfRangeGetsTheWholeFile) {
    const HTTPResponse first = fileReply(clip, std::nullopt);
    const std::string tag = header(first, "ETag"), modified = header(first, "Last-Modified");
    EXPECT_THAT(modified, testing::EndsWith(" GMT"));

    HTTPResponse unchanged = fileReply(clip, std::nullopt, {{"if-none-match", "\"x\", W/" + tag}});
    EXPECT_EQ(unchanged.status, 304);
    EXPECT_EQ(header(unchanged, "ETag"), tag);
    EXPECT_THAT(unchanged.head(), testing::Not(HasSubstr("Content-Length")));
    EXPECT_EQ(fileReply(clip, std::nullopt, {{"if-none-match", "\"other\""}}).status, 200);

    struct Case {
        std::string ifRange;
        int status;
    };
    for (const Case& c : std::vector<Case>{{tag, 206}, {modified, 206}, {"\"nope\"", 200},
                                           {"Thu, 01 Jan 1970 00:00:00 GMT", 200}}) {
        SCOPED_TRACE(c.ifRange);
        HTTPResponse response = fileReply(clip, "bytes=2-5", {{"if-range", c.ifRange}});
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(fileSpan(response), c.status == 206 ? Span(2, 5) : Span(0, 9));
    }
    // Made again: the old validator no longer matches.
    std::filesystem::remove(clip);
    writeFile(clip, "98765432109876");
    EXPECT_NE(header(fileReply(clip, std::nullopt), "ETag"), tag);
    EXPECT_EQ(fileReply(clip, "bytes=2-5", {{"if-range", tag}}).status, 200);
}

TEST_F(RouterFileTest, DecoratedFileReplyKeepsItsOwnCacheControl) {
    HTTPResponse response = Router::decorate(fileReply(clip, "bytes=2-5"), page);
    EXPECT_EQ(header(response, "Cache-Control"), "private, max-age=3600");
    EXPECT_EQ(corsOf(response), expectedCORS(page));
    EXPECT_EQ(response.status, 206);
}

// --- Library endpoints, through a real server

// A plain video of the library, as the scan lists it.
Asset videoAsset(const std::filesystem::path& file) {
    Asset asset;
    asset.id = Library::id(file.filename().string());
    asset.name = file.filename().string();
    asset.folder = file.parent_path();
    asset.file = file.filename().string();
    return asset;
}

Job jobIn(std::string id, Job::State state) {
    Job job;
    job.id = id;
    job.master = "/library/Drop here/" + id + ".mov";
    job.state = std::move(state);
    return job;
}

class LibraryEndpointTest : public testing::Test {
protected:
    void SetUp() override {
        port = startListening(server);
        Pairing::Request asked = pairing.request(page);
        pairing.answer(asked.id, Pairing::Decision::allow);
        token = pairing.state(asked.id).value;
    }

    // Set before the server is asked, never while it answers.
    void serve(std::vector<std::filesystem::path> files) {
        std::vector<Asset> listed;
        for (const auto& file : files) listed.push_back(videoAsset(file));
        assets = AssetListing::of(std::make_shared<const std::vector<Asset>>(std::move(listed)));
    }

    TestReply get(const std::string& target, const std::string& headers = "") {
        return askServer(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
    }
    TestReply getFile(const std::string& id, const std::string& name, const std::string& headers = "") {
        return get("/trelk/file/" + id + "/" + name + "?t=" + token, headers);
    }

    TempFolder folder;
    Pairing pairing{std::nullopt};
    Router::Assets assets = noAssets();
    std::vector<Job> jobs;
    Uploads uploads{folder / "Drop here", {}};
    Projects projects{std::nullopt};
    Router router{"1.2.3",
                  {pairing, uploads, projects, folder.path(), [this] { return assets; }, [this] { return jobs; }}};
    Server server{router}; // last: its thread ends before what the router reads goes away
    uint16_t port = 0;
    std::string token;
};

TEST_F(LibraryEndpointTest, EmptyLibraryAndQueueListNothing) {
    EXPECT_EQ(get("/trelk/library?t=" + token).body, R"({"assets":[],"jobs":[]})");
    serve({});
    EXPECT_EQ(get("/trelk/library?t=" + token).body, R"({"assets":[],"jobs":[]})");
}

TEST_F(LibraryEndpointTest, LibraryListsTheAssetsInOrderAndTheJobsNotDone) {
    serve({folder / "b.mov", folder / "a.mov"});
    jobs = {jobIn("j1", Job::Queued{}),    jobIn("j2", Job::Making{0.4567}),
            jobIn("j3", Job::Done{}),      jobIn("j4", Job::Failed{"couldn't read the master: no video"}),
            jobIn("j5", Job::Cancelled{}), jobIn("j6", Job::Making{0.125})};
    TestReply reply = get("/trelk/library?t=" + token, "Origin: " + page + "\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["Content-Type"], "application/json");
    EXPECT_EQ(reply.headers["Cache-Control"], "no-store");
    EXPECT_EQ(reply.headers["Access-Control-Allow-Origin"], page);
    const std::string listed = json::array({(*assets->assets)[0].json(), (*assets->assets)[1].json()}).dump();
    EXPECT_EQ(reply.body, R"({"assets":)" + listed + R"(,"jobs":[)"
                          R"({"id":"j1","name":"j1.mov","progress":0,"state":"queued"},)"
                          R"({"id":"j2","name":"j2.mov","progress":0.46,"state":"making"},)"
                          R"({"error":"couldn't read the master: no video","id":"j4","name":"j4.mov","state":"failed"},)"
                          R"({"id":"j5","name":"j5.mov","state":"cancelled"},)"
                          R"({"id":"j6","name":"j6.mov","progress":0.13,"state":"making"}]})");
}

TEST_F(LibraryEndpointTest, FileIsServedWithItsTypeCachingAndRanges) {
    writeFile(folder / "clip.mov", "0123456789");
    writeFile(folder / "LOUD.MP4", "abc");
    writeFile(folder / "empty.mp4", "");
    serve({folder / "clip.mov", folder / "LOUD.MP4", folder / "empty.mp4"});
    const std::string clip = (*assets->assets)[0].id;

    TestReply whole = getFile(clip, "clip.mov", "Origin: " + page + "\r\n");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "0123456789");
    EXPECT_EQ(whole.headers["Content-Type"], "video/quicktime");
    EXPECT_EQ(whole.headers["Accept-Ranges"], "bytes");
    EXPECT_EQ(whole.headers["Content-Length"], "10");
    EXPECT_EQ(whole.headers["Cache-Control"], "private, max-age=3600");
    EXPECT_EQ(whole.headers["Access-Control-Allow-Origin"], page);

    TestReply part = getFile(clip, "clip.mov", "Range: bytes=2-5\r\n");
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.headers["Content-Range"], "bytes 2-5/10");
    EXPECT_EQ(part.headers["Content-Length"], "4");
    EXPECT_EQ(part.body, "2345");

    TestReply beyond = getFile(clip, "clip.mov", "Range: bytes=20-\r\n");
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(beyond.headers["Content-Range"], "bytes */10");
    EXPECT_EQ(beyond.headers["Content-Length"], "0");
    EXPECT_EQ(beyond.body, "");

    TestReply loud = getFile((*assets->assets)[1].id, "LOUD.MP4");
    EXPECT_EQ(loud.headers["Content-Type"], "video/mp4");
    EXPECT_EQ(loud.body, "abc");

    TestReply empty = getFile((*assets->assets)[2].id, "empty.mp4");
    EXPECT_EQ(empty.status, 200);
    EXPECT_EQ(empty.headers["Content-Length"], "0");
    EXPECT_EQ(empty.body, "");
}

// Between a listing and a request a folder or a file may become a link to outside: neither is
// followed, and the outside bytes never reach the socket.
TEST_F(LibraryEndpointTest, AFolderOrFileSwappedForALinkSinceTheListingIsNoSuchFile) {
    TempFolder outside;
    writeFile(outside / "clip.mov", "outside bytes");
    writeFile(outside / "still.png", "outside bytes");
    std::filesystem::create_directory(folder / "Show");
    writeFile(folder / "Show" / "clip.mov", "inside");
    writeFile(folder / "still.png", "inside");
    serve({folder / "Show" / "clip.mov", folder / "still.png"});
    ASSERT_EQ(getFile((*assets->assets)[0].id, "clip.mov").body, "inside");

    std::filesystem::rename(folder / "Show", folder / "Show.orig");
    std::filesystem::create_directory_symlink(outside.path(), folder / "Show");
    std::filesystem::remove(folder / "still.png");
    std::filesystem::create_symlink(outside / "still.png", folder / "still.png");
    for (const auto& [id, name] : {std::pair{(*assets->assets)[0].id, "clip.mov"}, std::pair{(*assets->assets)[1].id, "still.png"}}) {
        SCOPED_TRACE(name);
        TestReply reply = getFile(id, name, "Range: bytes=0-3\r\n");
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body, R"({"error":"no such file"})");
    }
}

TEST_F(LibraryEndpointTest, OnlyAnAssetsOwnFilesCanBeReached) {
    for (std::string name : {"clip.mov", "other.mov", "gone.mov", ".clip.mov", "notes.txt"})
        writeFile(folder / name, "bytes of " + name);
    std::filesystem::create_directory(folder / "sub");
    writeFile(folder / "sub" / "clip.mov", "deeper");
    serve({folder / "clip.mov", folder / "other.mov", folder / "gone.mov"});
    std::filesystem::remove(folder / "gone.mov"); // since the last scan
    const std::string clip = (*assets->assets)[0].id;

    struct Case {
        std::string id;
        std::string name;
        std::string message;
    };
    const std::vector<Case> cases{
        {clip, "other.mov", "no such file"},
        {clip, "notes.txt", "no such file"},
        {"a0123456789abcdef0123", "clip.mov", "no such file"},
        {(*assets->assets)[2].id, "gone.mov", "no such file"},
        {clip, "..", "no such file"},
        {clip, "%2E%2E", "no such file"},
        {clip, ".clip.mov", "no such file"},
        {clip, "clip.mov%00", "no such file"},
        {clip, "clip.mov%00.txt", "no such file"},
        {clip, "clip.mov%5C", "no such file"},
        // A decoded "/" makes more segments than the route has.
        {clip, "sub%2Fclip.mov", "not found"},
        {clip, "..%2F..%2Fclip.mov", "not found"},
        {"..", "clip.mov", "no such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id + "/" + c.name);
        TestReply reply = getFile(c.id, c.name);
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body, json({{"error", c.message}}).dump());
    }
}

// --- Project endpoint

class ProjectEndpointTest : public RouterTest {
protected:
    void SetUp() override { token = pairedToken(); }
    HTTPResponse post(const std::string& body) {
        return router.handle(requestTo("POST", "/trelk/project?t=" + token, page, body));
    }
    static json withWalls(size_t count) {
        json walls = json::array();
        for (size_t i = 0; i < count; ++i)
            walls.push_back({{"id", "w" + std::to_string(i)}, {"name", "Wall"}, {"w", 1920}, {"h", 1080}, {"fps", "25"}});
        return {{"id", "p"}, {"name", "Show"}, {"walls", walls}};
    }

    std::string token;
};

TEST_F(ProjectEndpointTest, WhatIsNotAProjectIsRefusedAndChangesNothing) {
    const std::vector<std::string> bodies{
        "", "not json", "[]", "42", R"({"walls":[]})", R"({"id":"p"})", R"({"id":"p","walls":{}})",
        R"({"id":"p","walls":[{"id":"w","name":"W","w":"10","h":10,"fps":"25"}]})",
        R"({"id":"p","walls":[{"id":"w","name":"W","h":10,"fps":"25"}]})",
        R"({"id":"p","walls":[],"list":{"wall":"w","at":1}})", R"({"id":"","walls":[]})",
        R"({"id":"p\u0007","walls":[]})", "{\"id\":\"p\xff\",\"walls\":[]}", withWalls(201).dump(),
        std::string(65536, '['), std::string(30000, '[') + std::string(30000, ']'),
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 80));
        expectError(post(body), 400, "not a project");
    }
    EXPECT_TRUE(projects.all().empty());
    EXPECT_EQ(textOf(post(withWalls(200).dump())), R"({"files":[],"list":null})");
    EXPECT_EQ(projects.all().size(), 1u);
}

TEST_F(ProjectEndpointTest, TheDesktopsNewerListGoesBackWithTheFilesTheProjectUses) {
    json posted = withWalls(1);
    posted["list"] = {{"wall", "w0"}, {"at", 1000}, {"items", {{{"id", "i1"}, {"name", "b.mp4"}, {"lib", "b"}}}}};
    EXPECT_EQ(textOf(post(posted.dump())), R"({"files":["b"],"list":null})");
    Asset added;
    added.id = "a";
    added.file = "a.mp4";
    projects.add({added}, "p", "w0");
    const json answer = json::parse(textOf(post(posted.dump())));
    EXPECT_EQ(answer["files"], json({"a", "b"}));
    EXPECT_EQ(answer["list"], projects.project("p")->list->json());
    EXPECT_EQ(answer["list"]["items"].size(), 2u);
}

} // namespace
