#include "TrelkCore/Service/HTTP.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace ByteRange {
void PrintTo(const Part& part, std::ostream* out) { *out << "part " << part.lower << "…" << part.upper; }
void PrintTo(const Whole&, std::ostream* out) { *out << "whole"; }
void PrintTo(const Unsatisfiable&, std::ostream* out) { *out << "unsatisfiable"; }
} // namespace ByteRange

namespace {

using Kind = HTTPError::Kind;
constexpr size_t limit = HTTPRequest::limit;

// The kind of HTTPError that parsing throws, or none when it returns.
template <typename Parse>
std::optional<Kind> failureOf(Parse parse) {
    try {
        parse();
    } catch (const HTTPError& error) {
        return error.kind;
    }
    return std::nullopt;
}

std::optional<Kind> headFailure(std::string_view bytes) {
    return failureOf([&] { HTTPRequest::head(bytes); });
}

std::optional<Kind> parseFailure(std::string_view bytes) {
    return failureOf([&] { HTTPRequest::parse(bytes); });
}

std::string post(std::string_view contentLength, std::string_view body) {
    return "POST /trelk/project HTTP/1.1\r\nContent-Length: " + std::string(contentLength) +
           "\r\n\r\n" + std::string(body);
}

// A GET whose head, blank line included, is exactly size bytes.
std::string headOfSize(size_t size) {
    std::string start = "GET / HTTP/1.1\r\nX-Pad: ";
    return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
}

// --- Head parsing

TEST(HTTPRequestHead, ParsesRequestLineHeadersAndEndOfHead) {
    std::string head = "get /trelk/file/a%20b?x=1 HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n";
    auto parsed = HTTPRequest::head(head + "body bytes");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->end, head.size());
    EXPECT_EQ(parsed->request.method, "GET");
    EXPECT_EQ(parsed->request.path, "/trelk/file/a b");
    EXPECT_EQ(parsed->request.query, (HTTPQuery{{"x", "1"}}));
    EXPECT_EQ(parsed->request.headers, (HTTPHeaders{{"host", "127.0.0.1:47615"}}));
    EXPECT_EQ(parsed->request.body, "");
}

TEST(HTTPRequestHead, IsNoneUntilTheBlankLineHasArrivedByteByByte) {
    std::string head = "GET /trelk/hello HTTP/1.1\r\nOrigin: https://vorlane.app\r\n\r\n";
    for (size_t length = 0; length < head.size(); ++length)
        EXPECT_FALSE(HTTPRequest::head(head.substr(0, length))) << "after " << length << " bytes";
    auto parsed = HTTPRequest::head(head);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->end, head.size());
    EXPECT_EQ(parsed->request.header("origin"), "https://vorlane.app");
}

TEST(HTTPRequestHead, ResumingTheSearchFindsABlankLineCutAcrossPieces) {
    std::string head = "GET /trelk/hello HTTP/1.1\r\nOrigin: https://vorlane.app\r\n\r\n";
    // Every way of cutting the head in two, the second search starting where the first ended.
    for (size_t cut = 0; cut < head.size(); ++cut) {
        EXPECT_FALSE(HTTPRequest::head(head.substr(0, cut)));
        auto parsed = HTTPRequest::head(head, cut);
        ASSERT_TRUE(parsed) << "cut at " << cut;
        EXPECT_EQ(parsed->end, head.size());
    }
}

TEST(HTTPRequestHead, WaitsForUpToTheLimitWithoutBlankLineAndThenIsTooLarge) {
    EXPECT_FALSE(HTTPRequest::head(std::string(limit, 'a')));
    EXPECT_EQ(headFailure(std::string(limit + 1, 'a')), Kind::tooLarge);
    // A blank line cut in two by the limit is not there yet.
    EXPECT_FALSE(HTTPRequest::head(std::string(limit - 2, 'a') + "\r\n"));
}

TEST(HTTPRequestHead, LongestHeadIsTheSameWhetherBytesArriveAtOnceOrOneByOne) {
    // Byte by byte, a head ending at limit + 1 is the last to be found before the buffer is too large.
    std::string longest = headOfSize(limit + 1);
    auto parsed = HTTPRequest::head(longest + "more");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->end, limit + 1);

    std::string tooLong = headOfSize(limit + 2);
    EXPECT_EQ(headFailure(tooLong.substr(0, limit + 1)), Kind::tooLarge);
    EXPECT_EQ(headFailure(tooLong), Kind::tooLarge);
    EXPECT_EQ(headFailure(headOfSize(2 * limit)), Kind::tooLarge);
}

TEST(HTTPRequestHead, RefusesMalformedHeads) {
    const std::vector<std::string> heads = {
        "GET / HTTP/2\r\n\r\n",
        "GET / HTTP/2.0\r\n\r\n",
        "GET / http/1.1\r\n\r\n",
        "GET /\r\n\r\n",
        "GET / HTTP/1.1 extra\r\n\r\n",
        "GET\t/\tHTTP/1.1\r\n\r\n",
        "\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon here\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nbroken\r\n\r\n",
        "GET /\xFF HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nX-Name: caf\xC3\r\n\r\n",
        "GET / HTTP/1.1\r\nX-Overlong: \xC0\xAF\r\n\r\n",
        "GET / HTTP/1.1\nHost: a\r\n\r\n",
    };
    for (const std::string& head : heads)
        EXPECT_EQ(headFailure(head), Kind::malformed) << head;
}

TEST(HTTPRequestHead, AcceptsRunsOfBlanksInTheRequestLine) {
    auto parsed = HTTPRequest::head("  GET   /trelk/hello   HTTP/1.0  \r\n\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->request.method, "GET");
    EXPECT_EQ(parsed->request.path, "/trelk/hello");
}

TEST(HTTPRequestHead, AcceptsUTF8InTheHead) {
    auto parsed = HTTPRequest::head("GET /caf%C3%A9 HTTP/1.1\r\nX-Name: café · 4 × 3\r\n\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->request.path, "/café");
    EXPECT_EQ(parsed->request.header("x-name"), "café · 4 × 3");
}

TEST(HTTPRequestHead, LowerCasesNamesAndTrimsBlanksAndTabs) {
    auto parsed = HTTPRequest::head("GET / HTTP/1.1\r\n"
                                    " \tContent-TYPE \t:\t  text/plain; charset=utf-8 \t\r\n"
                                    "Host:127.0.0.1:47616\r\n"
                                    "X-Empty:   \r\n"
                                    "\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->request.headers, (HTTPHeaders{{"content-type", "text/plain; charset=utf-8"},
                                                    {"host", "127.0.0.1:47616"},
                                                    {"x-empty", ""}}));
}

TEST(HTTPRequestHead, LaterDuplicateHeaderReplacesEarlierOne) {
    auto parsed = HTTPRequest::head("GET / HTTP/1.1\r\nOrigin: https://a.example\r\n"
                                    "ORIGIN: https://b.example\r\n\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->request.headers, (HTTPHeaders{{"origin", "https://b.example"}}));
}

// RFC 9112: two lengths leave the body's end unknown. The same length twice is one length.
TEST(HTTPRequestHead, TwoDifferentContentLengthsAreMalformed) {
    EXPECT_EQ(headFailure("POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 12\r\n\r\n"), Kind::malformed);
    auto same = HTTPRequest::head("POST / HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 5\r\n\r\n");
    ASSERT_TRUE(same);
    EXPECT_EQ(same->request.header("content-length"), "5");
}

TEST(HTTPRequest, HeaderLooksUpAnyCaseAndIsNoneWhenAbsent) {
    HTTPRequest request("GET", "/", {}, {{"X-Trelk-Token", "abc"}});
    EXPECT_EQ(request.headers, (HTTPHeaders{{"x-trelk-token", "abc"}}));
    EXPECT_EQ(request.header("X-TRELK-TOKEN"), "abc");
    EXPECT_EQ(request.header("x-trelk-token"), "abc");
    EXPECT_EQ(request.header("origin"), std::nullopt);
}

// --- Request parsing

TEST(HTTPRequestParse, IsNoneUntilHeadAndAnnouncedBodyHaveArrivedByteByByte) {
    std::string request = post("11", R"({"id":"p1"})");
    for (size_t length = 0; length < request.size(); ++length)
        EXPECT_FALSE(HTTPRequest::parse(request.substr(0, length))) << "after " << length << " bytes";
    auto parsed = HTTPRequest::parse(request);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method, "POST");
    EXPECT_EQ(parsed->path, "/trelk/project");
    EXPECT_EQ(parsed->body, R"({"id":"p1"})");
}

TEST(HTTPRequestParse, BodyIsExactlyTheAnnouncedLengthAndExtraBytesAreIgnored) {
    auto parsed = HTTPRequest::parse(post("5", "hello, and more"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->body, "hello");
}

TEST(HTTPRequestParse, WithoutContentLengthHasNoBody) {
    auto parsed = HTTPRequest::parse("GET /trelk/library HTTP/1.1\r\n\r\nignored");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->body, "");
}

TEST(HTTPRequestParse, AcceptsContentLengthsUpToTheLimit) {
    const std::vector<std::pair<std::string, size_t>> lengths = {
        {"0", 0}, {"007", 7}, {"65536", limit},
    };
    for (const auto& [text, length] : lengths) {
        std::string body(length, 'b');
        auto parsed = HTTPRequest::parse(post(text, body));
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(parsed->body, body) << text;
        if (length > 0) {
            EXPECT_FALSE(HTTPRequest::parse(post(text, body.substr(1)))) << text;
        }
    }
}

TEST(HTTPRequestParse, RefusesContentLengthsThatAreNotANumberOrOutOfRange) {
    const std::vector<std::string> lengths = {
        "65537", "-1", "-0", "+3", "+65536", "abc", "", "+", "-", "5x", "0x10", "1.0", "1 2",
        "9223372036854775807", "9223372036854775808", "99999999999999999999", "-9223372036854775808",
    };
    std::string body(limit + 1, 'b');
    for (const std::string& length : lengths)
        EXPECT_EQ(parseFailure(post(length, body)), Kind::tooLarge) << length;
}

TEST(HTTPRequestParse, PassesHeadFailuresOn) {
    EXPECT_EQ(parseFailure("GET / HTTP/2\r\n\r\n"), Kind::malformed);
    EXPECT_EQ(parseFailure(std::string(limit + 1, 'a')), Kind::tooLarge);
}

// --- Target splitting

TEST(HTTPRequestSplit, QueryDropsEmptyPiecesAndEmptyParts) {
    auto [path, query] = HTTPRequest::split("/trelk/library?a=1&&b=x+y&c&=z");
    EXPECT_EQ(path, "/trelk/library");
    EXPECT_EQ(query, (HTTPQuery{{"a", "1"}, {"b", "x y"}, {"c", ""}, {"z", ""}}));
}

TEST(HTTPRequestSplit, SplitsEachPieceAtItsFirstEqualsSign) {
    EXPECT_EQ(HTTPRequest::split("/?a==b&c=d=e").second, (HTTPQuery{{"a", "=b"}, {"c", "d=e"}}));
    EXPECT_EQ(HTTPRequest::split("/?==z&=&&").second, (HTTPQuery{{"z", ""}}));
}

TEST(HTTPRequestSplit, LaterKeyReplacesEarlierOne) {
    EXPECT_EQ(HTTPRequest::split("/?project=p1&project=p2").second, (HTTPQuery{{"project", "p2"}}));
}

TEST(HTTPRequestSplit, PathIsPercentDecodedOrKeptRawWhenDecodingFails) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/trelk/file/a1/clip%20one.mp4", "/trelk/file/a1/clip one.mp4"},
        {"/caf%c3%a9", "/café"},
        {"/a+b", "/a+b"},
        {"/100%25", "/100%"},
        {"/%2541", "/%41"},
        {"/broken%2", "/broken%2"},
        {"/broken%zz", "/broken%zz"},
        {"/broken%", "/broken%"},
        {"/not-utf8%FF", "/not-utf8%FF"},
        {"/truncated%C3", "/truncated%C3"},
        {"", ""},
    };
    for (const auto& [target, path] : cases) {
        EXPECT_EQ(HTTPRequest::split(target), (std::pair<std::string, HTTPQuery>{path, {}})) << target;
        EXPECT_EQ(HTTPRequest::split(target + "?k=v").first, path) << target;
    }
}

TEST(HTTPRequestSplit, QueryPartsTurnPlusIntoBlankThenDecodeOrStayRaw) {
    const std::vector<std::pair<std::string, HTTPQuery>> cases = {
        {"name=clip%20one+two", {{"name", "clip one two"}}},
        {"sum=1%2B1", {{"sum", "1+1"}}},
        {"k%3D=v", {{"k=", "v"}}},
        {"caf%C3%A9=%C3%A9t%C3%A9", {{"café", "été"}}},
        {"bad=%zz+x", {{"bad", "%zz x"}}},
        {"bad%=1", {{"bad%", "1"}}},
        {"utf8=%FF", {{"utf8", "%FF"}}},
        {"+=1", {{" ", "1"}}},
    };
    for (const auto& [query, expected] : cases)
        EXPECT_EQ(HTTPRequest::split("/p%20q?" + query), (std::pair<std::string, HTTPQuery>{"/p q", expected}))
            << query;
}

// What did not decode is kept as sent, and named, so that a name can be refused rather than taken
// for what the client never sent.
TEST(HTTPRequestSplit, NamesTheKeysOfValuesThatDidNotDecode) {
    std::set<std::string> undecoded;
    HTTPRequest::split("/p?name=%ff.mov&ok=a%20b&bad=%zz&again=%ff&again=x", &undecoded);
    EXPECT_EQ(undecoded, (std::set<std::string>{"bad", "name"}));
    auto head = HTTPRequest::head("GET /p?name=%ff%fe.mov&t=1 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->request.parameter("name"), "%ff%fe.mov");
    EXPECT_EQ(head->request.decodedParameter("name"), std::nullopt);
    EXPECT_EQ(head->request.decodedParameter("t"), "1");
}

TEST(HTTPRequestSplit, OnlyTheFirstQuestionMarkSplits) {
    auto [path, query] = HTTPRequest::split("/a%3Fb?x=1?2&?=3");
    EXPECT_EQ(path, "/a?b");
    EXPECT_EQ(query, (HTTPQuery{{"x", "1?2"}, {"?", "3"}}));
    EXPECT_EQ(HTTPRequest::split("/library?"), (std::pair<std::string, HTTPQuery>{"/library", {}}));
}

// --- Responses

TEST(HTTPResponseJSON, WritesCompactlyWithSortedKeys) {
    nlohmann::json value = {{"zeta", 1}, {"alpha", {{"y", true}, {"b", nullptr}}}, {"Mid", {1, "two"}}};
    HTTPResponse response = HTTPResponse::json(value);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.headers, (HTTPHeaders{{"Content-Type", "application/json"}}));
    EXPECT_EQ(response.body, HTTPResponse::Body(R"({"Mid":[1,"two"],"alpha":{"b":null,"y":true},"zeta":1})"));
}

// One name that is not UTF-8 (a job's master from an old archive) never empties the whole reply.
TEST(HTTPResponseJSON, TextThatIsNotUTF8IsRepairedRatherThanEmptyingTheReply) {
    HTTPResponse response = HTTPResponse::json({{"name", "caf\xC3"}, {"other", "kept"}}, 201);
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.headers, (HTTPHeaders{{"Content-Type", "application/json"}}));
    EXPECT_EQ(response.body, HTTPResponse::Body("{\"name\":\"caf\xEF\xBF\xBD\",\"other\":\"kept\"}"));
    EXPECT_EQ(HTTPResponse::error(400, "\xFF").body, HTTPResponse::Body("{\"error\":\"\xEF\xBF\xBD\"}"));
}

TEST(HTTPResponseError, IsTheOneKeyErrorObject) {
    HTTPResponse response = HTTPResponse::error(404, "no such file · \"a\"");
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.headers, (HTTPHeaders{{"Content-Type", "application/json"}}));
    EXPECT_EQ(response.body, HTTPResponse::Body(R"({"error":"no such file · \"a\""})"));
}

TEST(HTTPResponseHead, ListsSortedHeadersWithLengthAndConnectionReplaced) {
    HTTPResponse response(200,
                          {{"Content-Type", "application/json"},
                           {"Connection", "keep-alive"},
                           {"Content-Length", "999"},
                           {"Cache-Control", "no-store"}},
                          std::string("hello"));
    EXPECT_EQ(response.head(), "HTTP/1.1 200 OK\r\n"
                               "Cache-Control: no-store\r\n"
                               "Connection: close\r\n"
                               "Content-Length: 5\r\n"
                               "Content-Type: application/json\r\n"
                               "\r\n");
}

TEST(HTTPResponseHead, OfAnEmptyReplyHasOnlyLengthAndConnection) {
    EXPECT_EQ(HTTPResponse(204, {}).head(), "HTTP/1.1 204 No Content\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}

TEST(HTTPResponseHead, OfAFileRangeCountsItsBytesAndUnknownStatusSaysStatus) {
    HTTPResponse response(418, {{"Accept-Ranges", "bytes"}}, HTTPResponse::File{nullptr, 5, 9});
    EXPECT_EQ(response.length(), 5);
    EXPECT_EQ(response.head(), "HTTP/1.1 418 Status\r\n"
                               "Accept-Ranges: bytes\r\n"
                               "Connection: close\r\n"
                               "Content-Length: 5\r\n"
                               "\r\n");
}

TEST(HTTPResponse, LengthOfDataIsItsByteCountAndOfAFileItsInclusiveRange) {
    EXPECT_EQ(HTTPResponse(200, {}, std::string("café")).length(), 5);
    EXPECT_EQ(HTTPResponse(200, {}).length(), 0);
    EXPECT_EQ(HTTPResponse(200, {}, HTTPResponse::File{nullptr, 0, 0}).length(), 1);
    EXPECT_EQ(HTTPResponse(200, {}, HTTPResponse::File{nullptr, 0, INT64_MAX - 1}).length(), INT64_MAX);
}

TEST(HTTPResponse, ReasonPhrases) {
    const std::vector<std::pair<int, std::string_view>> phrases = {
        {200, "OK"},
        {204, "No Content"},
        {206, "Partial Content"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {409, "Conflict"},
        {411, "Length Required"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"},
        {500, "Internal Server Error"},
        {507, "Insufficient Storage"},
        {418, "Status"},
        {201, "Status"},
        {0, "Status"},
        {-200, "Status"},
    };
    for (const auto& [status, phrase] : phrases) EXPECT_EQ(HTTPResponse::reason(status), phrase) << status;
}

// --- Byte ranges

struct RangeCase {
    std::optional<std::string> header;
    ByteRange::Result expected;
};

void expectRanges(const std::vector<RangeCase>& cases, int64_t size) {
    for (const RangeCase& range : cases)
        EXPECT_EQ(ByteRange::parse(range.header, size), range.expected)
            << range.header.value_or("(none)") << " on " << size << " bytes";
}

using ByteRange::Part, ByteRange::Whole, ByteRange::Unsatisfiable;

TEST(ByteRangeParse, SingleRangesOnATenByteFile) {
    expectRanges({
                     {std::nullopt, Whole{}},
                     {"bytes=0-", Part{0, 9}},
                     {"bytes=5-100", Part{5, 9}},
                     {"bytes=-3", Part{7, 9}},
                     {"bytes=-20", Part{0, 9}},

                     {"bytes=0-0", Part{0, 0}},
                     {"bytes=9-", Part{9, 9}},
                     {"bytes=9-9", Part{9, 9}},
                     {"bytes=-1", Part{9, 9}},
                     {"bytes=-10", Part{0, 9}},
                     {"bytes=2-4", Part{2, 4}},
                     {"  bytes= 2 - 4 ", Part{2, 4}},
                     {"\tbytes=2-\t", Part{2, 9}},
                 },
                 10);
}

TEST(ByteRangeParse, UnsatisfiableRangesOnATenByteFile) {
    expectRanges({
                     {"bytes=10-", Unsatisfiable{}},
                     {"bytes=7-3", Unsatisfiable{}},
                     {"bytes=-0", Unsatisfiable{}},
                 },
                 10);
}

// RFC 9110: a range that is not digits is ignored, and the whole file is the answer.
TEST(ByteRangeParse, RangesThatAreNotDigitsGiveWhole) {
    expectRanges({
                     {"bytes=3-x", Whole{}},
                     {"bytes=0-abc", Whole{}},
                     {"bytes=+1-2", Whole{}},
                     {"bytes=+2-+4", Whole{}},
                     {"bytes=-", Whole{}},
                     {"bytes= - ", Whole{}},
                     {"bytes=x-", Whole{}},
                     {"bytes=-x", Whole{}},
                     {"bytes=--1", Whole{}},
                     {"bytes=-3-", Whole{}},
                     {"bytes=0--3", Whole{}},
                     {"bytes=+-1", Whole{}},
                 },
                 10);
}

TEST(ByteRangeParse, OtherUnitsAndSeveralRangesGiveWhole) {
    expectRanges({
                     {"bytes=0-1,4-5", Whole{}},
                     {"bytes=10-,", Whole{}},
                     {"items=0-1", Whole{}},
                     {"Bytes=0-1", Whole{}},
                     {"bytes 0-1", Whole{}},
                     {"bytes=", Whole{}},
                     {"bytes=5", Whole{}},
                     {"", Whole{}},
                 },
                 10);
}

TEST(ByteRangeParse, AnyRangeOnAnEmptyFileIsWhole) {
    for (int64_t size : {int64_t(0), int64_t(-1), INT64_MIN})
        expectRanges({{"bytes=0-", Whole{}}, {"bytes=-3", Whole{}}, {"bytes=10-", Whole{}}, {"bytes=-0", Whole{}}},
                     size);
}

TEST(ByteRangeParse, HugeNumbersNeitherOverflowNorCrash) {
    expectRanges({
                     {"bytes=99999999999999999999-", Unsatisfiable{}},
                     {"bytes=0-99999999999999999999", Part{0, 9}},
                     {"bytes=-99999999999999999999", Unsatisfiable{}},
                     {"bytes=9223372036854775807-", Unsatisfiable{}},
                     {"bytes=0-9223372036854775807", Part{0, 9}},
                     {"bytes=-9223372036854775807", Part{0, 9}},
                     {"bytes=-9223372036854775808", Unsatisfiable{}},
                     {"bytes=0--9223372036854775808", Whole{}},
                 },
                 10);
    expectRanges({
                     {"bytes=0-", Part{0, INT64_MAX - 1}},
                     {"bytes=-1", Part{INT64_MAX - 1, INT64_MAX - 1}},
                     {"bytes=-9223372036854775807", Part{0, INT64_MAX - 1}},
                     {"bytes=9223372036854775806-99999999999999999999", Part{INT64_MAX - 1, INT64_MAX - 1}},
                     {"bytes=9223372036854775807-", Unsatisfiable{}},
                 },
                 INT64_MAX);
}

} // namespace
