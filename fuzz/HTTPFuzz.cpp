// Feeds arbitrary bytes to the request parser, the target splitter, the range parser, the
// upload of a body, the project decoder and the update feed decoder, and stops at the first
// result that breaks what callers rely on.
#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Projects/Fit.h"
#include "TrelkCore/Projects/Projects.h"
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/Uploads.h"
#include "TrelkCore/UpdateFeed.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

bool hasAny(std::string_view text, char low, char high) {
    for (char c : text)
        if (c >= low && c <= high) return true;
    return false;
}

bool trimmed(std::string_view text) {
    return text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' && text.back() != '\t');
}

void checkRequest(const HTTPRequest& request) {
    require(!hasAny(request.method, 'a', 'z'), "method is upper case");
    for (const auto& [name, value] : request.headers) {
        require(!hasAny(name, 'A', 'Z'), "header names are lower case");
        require(trimmed(name) && trimmed(value), "header names and values are trimmed");
    }
    for (const auto& [key, value] : request.query) require(!key.empty(), "query keys are not empty");
}

void checkHead(std::string_view bytes) {
    try {
        auto head = HTTPRequest::head(bytes);
        if (!head) {
            require(bytes.size() <= HTTPRequest::limit, "a head that waits fits the limit");
            return;
        }
        require(head->end <= bytes.size() && head->end <= HTTPRequest::limit + 1, "head ends within the bytes");
        require(bytes.substr(head->end - 4, 4) == "\r\n\r\n", "head ends with the blank line");
        require(head->request.body.empty(), "a head has no body");
        checkRequest(head->request);
    } catch (const HTTPError&) {
    }
}

void checkParse(std::string_view bytes) {
    try {
        auto request = HTTPRequest::parse(bytes);
        if (!request) return;
        require(request->body.size() <= HTTPRequest::limit, "body fits the limit");
        auto head = HTTPRequest::head(bytes);
        require(head && head->request.method == request->method && head->request.headers == request->headers,
                "a request has the head it was parsed from");
        require(bytes.substr(head->end, request->body.size()) == request->body, "body follows the head");
    } catch (const HTTPError&) {
    }
}

// A search resumed where a shorter buffer left off finds what a search of the whole finds.
void checkResumedHead(std::string_view bytes) {
    const size_t cut = bytes.size() / 2;
    std::optional<HTTPRequest::Head> whole, resumed;
    std::optional<HTTPError::Kind> wholeFailure, resumedFailure;
    try {
        if (HTTPRequest::head(bytes.substr(0, cut))) return;
    } catch (const HTTPError&) {
        return;
    }
    try {
        whole = HTTPRequest::head(bytes);
    } catch (const HTTPError& failure) {
        wholeFailure = failure.kind;
    }
    try {
        resumed = HTTPRequest::head(bytes, cut);
    } catch (const HTTPError& failure) {
        resumedFailure = failure.kind;
    }
    require(wholeFailure == resumedFailure && whole.has_value() == resumed.has_value(), "resumed search agrees");
    if (whole) require(whole->end == resumed->end && whole->request == resumed->request, "resumed head agrees");
}

void checkSplit(std::string_view bytes) {
    auto [path, query] = HTTPRequest::split(bytes);
    for (const auto& [key, value] : query) require(!key.empty(), "split keys are not empty");
}

// The first 8 bytes are the file size, the rest is the header.
void checkRange(std::string_view bytes) {
    int64_t size = 0;
    if (bytes.size() < sizeof size) return;
    std::memcpy(&size, bytes.data(), sizeof size);
    ByteRange::Result result = ByteRange::parse(bytes.substr(sizeof size), size);
    if (size <= 0) require(std::holds_alternative<ByteRange::Whole>(result), "an empty file is whole");
    if (const auto* part = std::get_if<ByteRange::Part>(&result)) {
        require(0 <= part->lower && part->lower <= part->upper && part->upper <= size - 1,
                "a part lies within the file");
        HTTPResponse reply(206, {}, HTTPResponse::File{nullptr, part->lower, part->upper});
        require(reply.length() >= 1 && reply.length() <= size, "a part's length is within the size");
    }
}

// One drop folder for the whole run, emptied after each input and removed at the end.
const std::filesystem::path& dropFolder() {
    static const struct Folder {
        Folder() {
            char pattern[] = "/tmp/trelk-fuzz-XXXXXX";
            require(::mkdtemp(pattern) != nullptr, "a temporary folder");
            top = pattern;
            drop = top / "Drop here";
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(top, ignored);
        }
        std::filesystem::path top;
        std::filesystem::path drop;
    } folder;
    return folder.drop;
}

// The body as the server hands it over: pieces whose lengths the bytes themselves choose.
void writeInPieces(Upload& upload, std::string_view body) {
    while (!body.empty()) {
        const size_t length = std::min(body.size(), size_t(1 + static_cast<unsigned char>(body.front()) % 64));
        upload.write(body.substr(0, length));
        body.remove_prefix(length);
    }
}

// A request whose head asks for an upload, with the rest of the bytes as its body.
void checkUpload(std::string_view bytes) {
    std::optional<HTTPRequest::Head> head;
    try {
        head = HTTPRequest::head(bytes);
    } catch (const HTTPError&) {
        return;
    }
    if (!head) return;
    const std::filesystem::path& drop = dropFolder();
    std::vector<std::filesystem::path> queued;
    Uploads uploads(drop, [&](const std::vector<std::filesystem::path>& files) {
        queued.insert(queued.end(), files.begin(), files.end());
        return std::vector<std::optional<std::string>>(files.size());
    });
    uploads.freeSpace = [](const std::filesystem::path&) { return std::nullopt; };
    std::shared_ptr<Upload> upload;
    try {
        upload = uploads.begin(head->request);
    } catch (const UploadRefusal& refusal) {
        require(refusal.status >= 400 && !refusal.message.empty(), "a refusal says why");
        return;
    }
    const std::string_view body = bytes.substr(head->end);
    require(Uploads::cleanName(upload->name) == upload->name, "an upload's name is clean");
    try {
        upload->open();
        writeInPieces(*upload, body);
        require(upload->received == int64_t(body.size()), "every byte written is counted");
        uploads.finish(*upload);
        const bool alone = !upload->set || upload->of == 1;
        if (alone) require(queued.size() == 1 && Files::read(queued[0], 1 << 20) == body, "the file holds the body");
        if (alone) require(queued[0].parent_path() == drop, "the file lands in the drop folder");
    } catch (const UploadRefusal& refusal) {
        require(upload->received <= upload->bytes, "never more than announced");
        uploads.abort(*upload);
        require(!std::filesystem::exists(upload->temp), "a refused upload leaves no file");
    }
    std::error_code ignored;
    std::filesystem::remove_all(drop, ignored);
}

bool clean(const WallInfo& wall) { return !Text::hasControl(wall.id) && !Text::hasControl(wall.name); }

// The bytes as a posted project's body: decoded without a throw, nothing but clean text in what
// decodes, read back as written, and merged into a store that the desktop then changes.
void checkProject(std::string_view bytes) {
    const nlohmann::json value = nlohmann::json::parse(bytes, nullptr, false);
    if (value.is_discarded()) return;
    const std::optional<Project> project = Project::fromJSON(value);
    if (!project) return;
    require(!Text::hasControl(project->id) && !Text::hasControl(project->name), "the project's text is clean");
    require(std::ranges::all_of(project->walls, clean), "the walls' text is clean");
    require(Project::fromJSON(nlohmann::json::parse(project->json().dump())) == project, "a project reads back");
    for (const WallInfo& wall : project->walls) Fit::notes(1920, 1080, 25, wall);

    Projects store(std::nullopt);
    require(!store.sync(*project), "a new project takes the posted list");
    Asset asset;
    asset.id = "a0123456789";
    asset.file = "clip.mp4";
    const std::string wall = project->walls.empty() ? "" : project->walls.back().id;
    store.add({asset}, project->id, wall);
    store.move(asset.id, INT64_MIN, project->id);
    const std::optional<Project> stored = store.project(project->id);
    require(stored && stored->files().contains(asset.id), "an added asset is tied to the project");
    const size_t postedItems = project->list ? project->list->items.size() : 0;
    require(!stored->list || stored->list->items.size() <= std::max(postedItems, Projects::mostItems),
            "adding stops at the most items");
    store.removeAssets({asset.id});
    require(store.owners(asset.id).empty(), "a removed asset is in no project");
}

// The bytes as the download site's feed: a feed that decodes only ever names an https address,
// and its version is newer than 0.0.0 exactly when it reads as a version.
void checkFeed(std::string_view bytes) {
    const std::optional<UpdateFeed> feed = UpdateFeed::decode(bytes);
    if (!feed) return;
    require(feed->url.size() > 8 && Text::lowercased(feed->url.substr(0, 8)) == "https://", "a feed names https");
    const std::optional<Version> parsed = Version::parse(feed->version);
    require(feed->newer({}) == (parsed && *parsed > Version{} ? parsed : std::nullopt), "newer is the parsed version");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkHead(bytes);
    checkResumedHead(bytes);
    checkParse(bytes);
    checkSplit(bytes);
    checkRange(bytes);
    checkUpload(bytes);
    checkProject(bytes);
    checkFeed(bytes);
    return 0;
}
