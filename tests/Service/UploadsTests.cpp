#include "TrelkCore/Service/Uploads.h"

#include "TrelkCore/Service/Router.h"
#include "TrelkCore/Service/Server.h"
#include "tests/support/Eventually.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/Limits.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>
#include <random>
#include <set>

using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::string page = "http://localhost:5173";
// The largest piece the server writes at once: bodies several pieces long cross its edges.
constexpr size_t bodyPiece = 1 << 20;
const std::string notMedia(Uploads::notMedia);

// Bytes a .mov passes the type check with.
std::string movieBytes(size_t count) {
    std::string bytes(count, '\0');
    std::mt19937 generator(11);
    for (char& byte : bytes) byte = char(generator());
    bytes.replace(0, 8, std::string("\0\0\0\x14" "ftyp", 8));
    return bytes;
}

HTTPRequest uploadHead(const std::string& query, std::optional<int64_t> bytes) {
    std::set<std::string> undecoded;
    auto [path, parsed] = HTTPRequest::split("/trelk/upload?" + query, &undecoded);
    HTTPHeaders headers;
    if (bytes) headers["content-length"] = std::to_string(*bytes);
    HTTPRequest request("POST", path, parsed, headers);
    request.undecoded = std::move(undecoded);
    return request;
}

std::optional<UploadRefusal> refusalOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const UploadRefusal& refusal) {
        return refusal;
    }
    return std::nullopt;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.push_back(entry.path().filename());
    std::ranges::sort(names);
    return names;
}

class UploadsTest : public testing::Test {
protected:
    // Each file handed to the queue gets a job id "j1", "j2", …
    std::vector<std::optional<std::string>> queue(const std::vector<fs::path>& files) {
        std::lock_guard guard(queuedLock);
        queued.push_back(files);
        std::vector<std::optional<std::string>> ids;
        for (size_t i = 0; i < files.size(); ++i) ids.push_back("j" + std::to_string(++jobCount));
        return ids;
    }
    std::vector<std::vector<fs::path>> queuedSoFar() {
        std::lock_guard guard(queuedLock);
        return queued;
    }

    // Begun, written whole and finished.
    json send(const std::string& query, const std::string& bytes) {
        std::shared_ptr<Upload> upload = uploads.begin(uploadHead(query, int64_t(bytes.size())));
        upload->open();
        upload->write(bytes);
        return uploads.finish(*upload);
    }

    TempFolder folder;
    fs::path drop = folder / "Drop here";
    std::mutex queuedLock;
    std::vector<std::vector<fs::path>> queued;
    int jobCount = 0;
    Uploads uploads{drop, [this](const std::vector<fs::path>& files) { return queue(files); }};
};

TEST(UploadNames, AreCleanedToOneSafeMasterNameOrRefused) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"a/b/clip.mov", "clip.mov"},
        {"C:\\shots\\clip.mov", "clip.mov"},
        {"12:30 take.mov", "12-30 take.mov"},
        {" \tclip.MP4\r\n", "clip.MP4"},
        {std::string(196, 'x') + ".mov", std::string(196, 'x') + ".mov"},
        {std::string(197, 'x') + ".mov", std::nullopt},
        {".hidden.mov", std::nullopt},
        {"notes.txt", std::nullopt},
        {"clip", std::nullopt},
        {"clip.mov.crdownload", std::nullopt},
        {"clip.mp4.part", std::nullopt},
        {"a\x01" "b.mov", std::nullopt},
        {"a\x7f" "b.mov", std::nullopt},
        {"a\xc2\x85" "b.mov", std::nullopt},
        {"caf\xe9.mov", std::nullopt},
        {"shots/", std::nullopt},
        {"", std::nullopt},
        {"café ü.png", "café ü.png"},
        {"\xe2\x80\xae" "vom.mov", std::nullopt},  // right-to-left override
        {"a\xe2\x80\x8b" "b.mov", std::nullopt},   // zero-width space
        {"a\xe2\x80\xa8" "b.mov", std::nullopt},   // line separator
        {"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9.mov", "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9.mov"},
        {"a\xe2\x80\x8d" "b.mov", std::nullopt},   // a joiner outside an emoji sequence
    };
    for (const auto& [name, cleaned] : cases) EXPECT_EQ(Uploads::cleanName(name), cleaned) << name;
}

TEST(UploadSignatures, FirstBytesMustMatchTheNamesType) {
    using namespace std::string_literals;
    const std::string tail(8, 'x');
    const std::vector<std::tuple<std::string, std::string, bool>> cases{
        {"clip.mov", "\0\0\0\x14" "ftypqt  "s, true},
        {"clip.mp4", "\0\0\0\0mdat"s + tail, true},
        {"clip.mov", "\0\0\0\0ftyx"s + tail, false},
        {"clip.heic", "\0\0\0\0fty"s, false},
        {"still.png", "\x89PNG\r\n\x1a\n" + tail, true},
        {"still.png", "\xff\xd8\xff\xe0" + tail, false},
        {"still.JPG", "\xff\xd8\xff\xe0" + tail, true},
        {"still.webp", "RIFF\0\0\0\0WEBP"s, true},
        {"still.webp", "RIFF\0\0\0\0AVI "s, false},
        {"clip.avi", "RIFF\0\0\0\0AVI "s, true},
        {"still.tif", "MM\0*"s + tail, true},
        {"still.tiff", "II*\0"s + tail, true},
        {"clip.mxf", "\x06\x0e\x2b\x34" + tail, true},
        {"clip.mkv", "\x1a\x45\xdf\xa3" + tail, true},
        {"clip.mpg", "\0\0\1\xb3"s + tail, true},
        {"clip.mpg", "\0\0\1\xb4"s + tail, false},
        {"clip.ts", "G" + tail, true},
        {"clip.m2ts", "\0\0\0\0G"s + tail, true},
        {"clip.m2ts", "G" + tail, false},
    };
    for (const auto& [name, start, right] : cases)
        EXPECT_EQ(Uploads::looksRight(start, name), right) << name << " " << json(start.substr(0, 8)).dump();
}

TEST_F(UploadsTest, SizeAndFreeSpaceAreCheckedInOrder) {
    std::optional<int64_t> free;
    uploads.freeSpace = [&](const fs::path&) { return free; };
    auto refusal = [&](std::optional<std::string> name, std::optional<int64_t> bytes) {
        std::optional<UploadRefusal> found = uploads.check(name, bytes);
        return found ? std::to_string(found->status) + " " + found->message : "none";
    };
    EXPECT_EQ(refusal(std::nullopt, 100), "415 " + notMedia);
    EXPECT_EQ(refusal("notes.txt", std::nullopt), "415 " + notMedia);
    EXPECT_EQ(refusal("clip.mov", std::nullopt), "411 send the file with its size");
    EXPECT_EQ(refusal("clip.mov", 0), "411 send the file with its size");
    EXPECT_EQ(refusal("clip.mov", 63), "415 too small to be a video or still");
    EXPECT_EQ(refusal("clip.mov", 64), "none");
    EXPECT_EQ(refusal("clip.mov", Uploads::maxBytes), "none");
    EXPECT_EQ(refusal("clip.mov", Uploads::maxBytes + 1), "413 over 256 GB · copy it into Drop here on the Mac");
    free = Uploads::spare + 1000;
    EXPECT_EQ(refusal("clip.mov", 1000), "none");
    EXPECT_EQ(refusal("clip.mov", 1001), "507 not enough space on the Mac · 1.1 GB free");
    free = -5;
    EXPECT_EQ(refusal("clip.mov", 64), "507 not enough space on the Mac · 0 bytes free");
}

TEST_F(UploadsTest, BatchKeyAndSizeComeFromTheQuery) {
    const std::vector<std::tuple<std::string, std::optional<std::string>, int>> cases{
        {"set=cue-1_A&of=3", "cue-1_A", 3}, {"set=cue&of=40", "cue", 16}, {"set=cue&of=1", "cue", 1},
        {"set=cue&of=0", "cue", 1},         {"set=cue&of=abc", "cue", 1}, {"set=cue", "cue", 1},
        {"set=a+b&of=3", std::nullopt, 3},  {"set=a%2Fb&of=3", std::nullopt, 3},
        {"set=" + std::string(65, 'k') + "&of=3", std::nullopt, 3},
        {"set=" + std::string(64, 'k') + "&of=3", std::string(64, 'k'), 3},
    };
    for (const auto& [query, set, of] : cases) {
        std::shared_ptr<Upload> upload = uploads.begin(uploadHead("name=clip.mov&" + query, 100));
        EXPECT_EQ(upload->set, set) << query;
        EXPECT_EQ(upload->of, of) << query;
        uploads.abort(*upload);
    }
    EXPECT_EQ(namesIn(drop), std::vector<std::string>{});
}

TEST_F(UploadsTest, HeadsThatCannotBeStreamedAreRefusedBeforeAFileIsMade) {
    HTTPRequest chunked = uploadHead("name=clip.mov", std::nullopt);
    chunked.headers["transfer-encoding"] = "chunked";
    HTTPRequest identity = uploadHead("name=clip.mov", 100);
    identity.headers["transfer-encoding"] = "Identity";
    HTTPRequest wordy = uploadHead("name=clip.mov", std::nullopt);
    wordy.headers["content-length"] = "12abc";
    for (const HTTPRequest& request : {chunked, wordy, uploadHead("name=clip.mov", -1),
                                       uploadHead("name=clip.mov", std::nullopt)}) {
        EXPECT_EQ(refusalOf([&] { uploads.begin(request); }), UploadRefusal(411, "send the file with its size"));
    }
    EXPECT_NO_THROW(uploads.begin(identity));
    EXPECT_FALSE(fs::exists(drop)) << "the head's checks never touch the disk";
}

TEST_F(UploadsTest, ABatchWaitsForItsLastFileThenGoesToTheQueueAsOne) {
    EXPECT_EQ(send("name=show left.mov&set=s1&of=3", movieBytes(100)), (json{{"name", "show left.mov"}, {"ok", true}, {"waiting", 2}}));
    EXPECT_EQ(send("name=show right.mov&set=s1&of=3", movieBytes(100)), (json{{"name", "show right.mov"}, {"ok", true}, {"waiting", 1}}));
    EXPECT_TRUE(queuedSoFar().empty());
    EXPECT_EQ(send("name=show centre.mov&set=s1&of=3", movieBytes(100)),
              (json{{"jobs", {"j1", "j2", "j3"}}, {"name", "show centre.mov"},
                    {"names", {"show left.mov", "show right.mov", "show centre.mov"}}, {"ok", true}}));
    ASSERT_EQ(queuedSoFar().size(), 1u);
    EXPECT_EQ(queuedSoFar()[0], (std::vector<fs::path>{drop / "show left.mov", drop / "show right.mov", drop / "show centre.mov"}));
    EXPECT_EQ(readFile(drop / "show centre.mov"), movieBytes(100));
}

TEST_F(UploadsTest, ABatchKeyIsThePagesOwn) {
    EXPECT_EQ(send("t=A&name=a.mov&set=K1&of=2", movieBytes(100)).at("waiting"), 1);
    EXPECT_EQ(send("t=B&name=b.mov&set=K1&of=2", movieBytes(100)).at("waiting"), 1);
    EXPECT_EQ(send("t=A&name=c.mov&set=K1&of=2", movieBytes(100)),
              (json{{"jobs", {"j1", "j2"}}, {"name", "c.mov"}, {"names", {"a.mov", "c.mov"}}, {"ok", true}}));
}

TEST_F(UploadsTest, ALinkedOrVanishedDropHereKeepsNothingAndSaysSo) {
    const UploadRefusal unwritable(500, "couldn't write to Drop here");
    auto vanishing = uploads.begin(uploadHead("name=clip.mov", 100));
    vanishing->open();
    vanishing->write(movieBytes(100));
    fs::remove_all(drop);
    EXPECT_EQ(refusalOf([&] { uploads.finish(*vanishing); }), unwritable);
    EXPECT_TRUE(queuedSoFar().empty());

    TempFolder outside;
    fs::create_directory_symlink(outside.path(), drop);
    EXPECT_EQ(refusalOf([&] { uploads.begin(uploadHead("name=clip.mov", 100))->open(); }), unwritable);
    EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{});
}

TEST_F(UploadsTest, FinishedFilesNeverReplaceOnesThereAndShortOnesAreDropped) {
    fs::create_directories(drop);
    writeFile(drop / "clip.mov", "mine");
    auto first = uploads.begin(uploadHead("name=clip.mov", 100));
    auto second = uploads.begin(uploadHead("name=clip.mov", 100));
    auto shortOne = uploads.begin(uploadHead("name=clip.mov", 100));
    for (auto* upload : {&first, &second, &shortOne}) {
        (*upload)->open();
        (*upload)->write(movieBytes(upload == &shortOne ? 99 : 100));
    }
    EXPECT_EQ(uploads.finish(*second).at("name"), "clip 2.mov");
    EXPECT_EQ(uploads.finish(*first).at("name"), "clip 3.mov");
    EXPECT_EQ(refusalOf([&] { uploads.finish(*shortOne); }), UploadRefusal(400, "the file didn't all arrive"));
    EXPECT_EQ(namesIn(drop), (std::vector<std::string>{"clip 2.mov", "clip 3.mov", "clip.mov"}));
    EXPECT_EQ(readFile(drop / "clip.mov"), "mine");
}

TEST_F(UploadsTest, SweepHandsOverLateBatchesAndRemovesOnlyStaleTemporaryFiles) {
    const auto now = std::chrono::system_clock::now();
    send("name=cue left.mov&set=late&of=3", movieBytes(100));
    auto cut = uploads.begin(uploadHead("name=cue centre.mov&set=late&of=3", 100));
    uploads.abort(*cut);
    send("name=cue right.mov&set=late&of=3", movieBytes(100));
    auto underWay = uploads.begin(uploadHead("name=long.mov", 100));
    underWay->open();
    auto aged = [&](const std::string& name, std::chrono::minutes age) {
        writeFile(drop / name, "x");
        fs::last_write_time(drop / name, fs::file_time_type::clock::now() - age);
    };
    aged(".upload-00000000-old.mov", std::chrono::minutes(120));
    aged(".upload-00000001-recent.mov", std::chrono::minutes(30));
    fs::last_write_time(underWay->temp, fs::file_time_type::clock::now() - std::chrono::hours(3));

    uploads.sweep(now);
    EXPECT_FALSE(fs::exists(drop / ".upload-00000000-old.mov"));
    EXPECT_TRUE(fs::exists(drop / ".upload-00000001-recent.mov"));
    EXPECT_TRUE(fs::exists(underWay->temp)) << "an upload under way keeps its file, however old";
    uploads.sweep(now + std::chrono::seconds(1799));
    EXPECT_TRUE(queuedSoFar().empty());
    uploads.sweep(now + std::chrono::seconds(1801));
    ASSERT_EQ(queuedSoFar().size(), 1u);
    EXPECT_EQ(queuedSoFar()[0], (std::vector<fs::path>{drop / "cue left.mov", drop / "cue right.mov"}));
}

// The router, the server and the registry, over real sockets.
class UploadServerTest : public UploadsTest {
protected:
    void SetUp() override {
        Pairing::Request asked = pairing.request(page);
        pairing.answer(asked.id, Pairing::Decision::allow);
        token = pairing.state(asked.id).value;
        port = startListening(server);
    }

    std::string head(const std::string& query, const std::string& length, const std::string& more = "Origin: " + page + "\r\n") {
        return "POST /trelk/upload?t=" + token + "&" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + more +
               "Content-Length: " + length + "\r\n\r\n";
    }
    TestReply upload(const std::string& name, const std::string& bytes) {
        TestSocket socket(port);
        socket.send(head("name=" + name, std::to_string(bytes.size())) + bytes);
        return parseReply(socket.receiveAll());
    }
    bool dropIsEmpty() {
        return eventually([&] { return namesIn(drop).empty(); });
    }

    Pairing pairing{std::nullopt};
    Projects projects{std::nullopt};
    Router router{"1.0", {pairing, uploads, projects, folder.path(), [] { return AssetListing::of(nullptr); },
                          [] { return std::vector<Job>{}; }}};
    std::string token;
    Server server{router};
    uint16_t port = 0;
};

TEST_F(UploadServerTest, AWholeUploadLandsUnderItsNameIsQueuedAndAnsweredToItsPage) {
    const std::string bytes = movieBytes(3 * bodyPiece + 5);
    TestReply reply = upload("clip.mov", bytes);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(json::parse(reply.body), (json{{"jobs", {"j1"}}, {"name", "clip.mov"}, {"names", {"clip.mov"}}, {"ok", true}}));
    EXPECT_EQ(reply.headers["Access-Control-Allow-Origin"], page);
    EXPECT_EQ(readFile(drop / "clip.mov"), bytes);
    EXPECT_EQ(namesIn(drop), std::vector<std::string>{"clip.mov"});

    TestReply check = askServer(port, "GET /trelk/upload?t=" + token + "&name=b.mov&bytes=64 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(check.body, R"({"max":274877906944,"ok":true})");
    check = askServer(port, "GET /trelk/upload?t=" + token + "&name=b.mov&bytes=6x HTTP/1.1\r\n\r\n");
    EXPECT_EQ(check.status, 411);
}

// The check answers what the upload of the same name would.
TEST_F(UploadServerTest, TheCheckAndTheUploadApplyOneNameRule) {
    const std::vector<std::pair<std::string, bool>> names{
        {"clip.mov", true},         {"x.mov%20", true},          {"caf%C3%A9+take.mov", true},
        {"%F0%9F%91%A8%E2%80%8D%F0%9F%91%A9.mov", true},       {"%25zz.mov", true},
        {"%ff%fe.mov", false},      {"caf%E9.mov", false},       {"%E2%80%AE.vom.mov", false},
        {"a%E2%80%8Bb.mov", false}, {"a%E2%81%A6b.mov", false},  {"x.mov%00", false},
        {"%2Ehidden.mov", false},   {"a%5C..%5Cnotes.txt", false},
    };
    for (const auto& [name, taken] : names) {
        SCOPED_TRACE(name);
        TestReply check = askServer(port, "GET /trelk/upload?t=" + token + "&name=" + name + "&bytes=100 HTTP/1.1\r\n\r\n");
        TestReply sent = upload(name, movieBytes(100));
        EXPECT_EQ(check.status, taken ? 200 : 415);
        EXPECT_EQ(sent.status, check.status);
        if (!taken) {
            EXPECT_EQ(sent.body, json({{"error", notMedia}}).dump());
        }
    }
    // The size too is digits alone, in the query as in the head.
    EXPECT_EQ(askServer(port, "GET /trelk/upload?t=" + token + "&name=b.mov&bytes=%2B100 HTTP/1.1\r\n\r\n").status, 411);
    TestSocket withSign(port);
    withSign.send(head("name=b.mov", "+100") + movieBytes(100));
    EXPECT_EQ(parseReply(withSign.receiveAll()).status, 411);
    EXPECT_EQ(namesIn(drop), (std::vector<std::string>{"%zz.mov", "caf\xc3\xa9 take.mov", "clip.mov",
                                                       "x.mov", "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9.mov"}));
}

TEST_F(UploadServerTest, TwoUploadsOfOneNameAtOnceBothLand) {
    const std::string bytes = movieBytes(2 * bodyPiece);
    TestSocket first(port), second(port);
    first.send(head("name=clip.mov", std::to_string(bytes.size())) + bytes.substr(0, 1000));
    second.send(head("name=clip.mov", std::to_string(bytes.size())) + bytes.substr(0, 1000));
    first.send(bytes.substr(1000));
    second.send(bytes.substr(1000));
    EXPECT_EQ(parseReply(first.receiveAll()).status, 200);
    EXPECT_EQ(parseReply(second.receiveAll()).status, 200);
    EXPECT_EQ(namesIn(drop), (std::vector<std::string>{"clip 2.mov", "clip.mov"}));
}

TEST_F(UploadServerTest, RefusalsOfTheHeadComeBeforeAnyByteOfTheBody) {
    uploads.freeSpace = [](const fs::path&) { return std::optional<int64_t>(Uploads::spare + 500); };
    const std::vector<std::tuple<std::string, int, std::string>> cases{
        {head("name=clip.mov", "100", ""), 403, "not an allowed site"},
        {head("name=clip.mov", "100", "Origin: https://elsewhere.example\r\n"), 403, "not an allowed site"},
        {"POST /trelk/upload?t=x&name=clip.mov HTTP/1.1\r\nOrigin: " + page + "\r\nContent-Length: 100\r\n\r\n", 401, "pair first"},
        {head("name=clip.mov", "-1"), 411, "send the file with its size"},
        {head("name=clip.mov", "9223372036854775808"), 411, "send the file with its size"},
        {head("name=clip.mov", "12abc"), 411, "send the file with its size"},
        {head("name=clip.mov", "+100"), 411, "send the file with its size"},
        {head("name=clip.mov", "100", "Origin: " + page + "\r\nTransfer-Encoding: chunked\r\n"), 411, "send the file with its size"},
        {head("name=a%2F..%2F..%2Fnotes.txt", "100"), 415, notMedia},
        {head("name=" + std::string(197, 'n') + ".mov", "100"), 415, notMedia},
        {head("name=clip.mov", "63"), 415, "too small to be a video or still"},
        {head("name=clip.mov", "274877906945"), 413, "over 256 GB · copy it into Drop here on the Mac"},
        {head("name=clip.mov", "501"), 507, "not enough space on the Mac · 1.1 GB free"},
    };
    for (const auto& [request, status, message] : cases) {
        TestSocket socket(port);
        socket.send(request); // and never a byte of the body
        TestReply reply = parseReply(socket.receiveAll());
        EXPECT_EQ(reply.status, status) << request;
        EXPECT_EQ(reply.body, json({{"error", message}}).dump()) << request;
    }
    EXPECT_EQ(namesIn(drop), std::vector<std::string>{});
}

TEST_F(UploadServerTest, WrongFirstBytesOrTooManyAreRefusedAndTheFileRemoved) {
    TestSocket socket(port);
    socket.send(head("name=still.png", "100") + std::string("\xff\xd8\xff\xe0JFIF\0\x01\x01\x01", 12)); // and no more
    TestReply reply = parseReply(socket.receiveAll());
    EXPECT_EQ(reply.status, 415);
    EXPECT_EQ(json::parse(reply.body)["error"], notMedia);
    EXPECT_EQ(reply.headers["Access-Control-Allow-Origin"], page);
    EXPECT_TRUE(dropIsEmpty());

    TestSocket longer(port);
    longer.send(head("name=clip.mov", "64") + movieBytes(80));
    EXPECT_EQ(parseReply(longer.receiveAll()).body, R"({"error":"more bytes than it said"})");
    EXPECT_TRUE(dropIsEmpty());
}

TEST_F(UploadServerTest, AConnectionCutAnywhereLeavesNothingBehind) {
    const size_t size = 2 * bodyPiece + 1000;
    const std::string bytes = movieBytes(size);
    const size_t k = 65536, m = bodyPiece;
    for (size_t sent : {size_t(0), size_t(1), size_t(11), size_t(12), size_t(13), k - 1, k, k + 1, m - 1, m, m + 1, size - 1}) {
        {
            TestSocket socket(port);
            socket.send(head("name=clip.mov", std::to_string(size)) + bytes.substr(0, sent));
        }
        EXPECT_TRUE(dropIsEmpty()) << "cut after " << sent;
    }
    EXPECT_TRUE(queuedSoFar().empty());
    // The disk queue keeps its order: once a later upload is answered, no cut one is left.
    EXPECT_EQ(upload("after.mov", bytes).status, 200);
    EXPECT_EQ(namesIn(drop), std::vector<std::string>{"after.mov"});
}

TEST_F(UploadServerTest, AFullDiskFailsTheUploadAndRemovesItsFile) {
    TestReply reply;
    {
        FileSizeLimit limit(128 * 1024);
        reply = upload("clip.mov", movieBytes(bodyPiece / 2));
    }
    EXPECT_EQ(reply.status, 507);
    EXPECT_EQ(json::parse(reply.body)["error"], "couldn't write it on the Mac · is the disk full?");
    EXPECT_TRUE(dropIsEmpty());
    EXPECT_TRUE(queuedSoFar().empty());
}

} // namespace
