#include "TrelkCore/Service/Router.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Service/JobListing.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include <vector>

namespace {

using Segments = std::vector<std::string>;

Segments segmentsOf(std::string_view path) {
    Segments segments;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) segments.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

bool is(const Segments& segments, std::initializer_list<std::string_view> expected) {
    return std::equal(segments.begin(), segments.end(), expected.begin(), expected.end());
}

HTTPResponse notFound() { return HTTPResponse::error(404, "not found"); }
constexpr size_t maxWalls = 200;
HTTPResponse notAllowed() { return HTTPResponse::error(403, "not an allowed site"); }

// Browsers and curl name the loopback address they connect to; anything else is a rebound name.
bool hostPasses(const HTTPRequest& request) {
    const std::optional<std::string> host = request.header("host");
    return !host || Origins::loopbackHost(*host);
}
HTTPResponse pairFirst() { return HTTPResponse::error(401, "pair first"); }
HTTPResponse refused(const UploadRefusal& refusal) { return HTTPResponse::error(refusal.status, refusal.message); }

} // namespace

Router::Router(std::string version, Sources sources)
    : version(std::move(version)), sources(std::move(sources)) {}

HTTPResponse Router::route(const HTTPRequest& request, const std::optional<std::string>& origin) {
    if (!hostPasses(request) || (origin && !Origins::allowed(*origin))) return notAllowed();
    if (request.method == "OPTIONS") return HTTPResponse(204, {});

    Segments segments = segmentsOf(request.path);
    if (segments.empty() || segments.front() != "trelk") return notFound();
    segments.erase(segments.begin());
    const std::string& method = request.method;

    if (method == "GET" && is(segments, {"hello"})) return hello(request);
    if (method == "POST" && is(segments, {"pair"})) return pair(origin);
    if (method == "GET" && segments.size() == 2 && segments[0] == "pair") return pairState(segments[1]);
    if (method == "GET" && is(segments, {"library"})) return tokenPasses(request) ? library() : pairFirst();
    if (method == "GET" && is(segments, {"upload"})) return tokenPasses(request) ? uploadCheck(request) : pairFirst();
    if (method == "POST" && is(segments, {"project"})) return tokenPasses(request) ? project(request) : pairFirst();
    // An upload's body never comes this way: the server streams it.
    if (method == "POST" && is(segments, {"upload"})) return tokenPasses(request) ? notFound() : pairFirst();
    if (method == "GET" && segments.size() == 3 && segments[0] == "file")
        return tokenPasses(request) ? assetFile(segments[1], segments[2], request) : pairFirst();

    static const std::vector<std::string> known{"hello", "pair", "library", "project", "upload"};
    if (segments.size() == 1 && std::ranges::find(known, segments[0]) != known.end())
        return HTTPResponse::error(405, "method not allowed");
    return notFound();
}

HTTPResponse Router::decorate(HTTPResponse response, const std::optional<std::string>& origin) {
    if (origin && Origins::allowed(*origin))
        for (auto& [name, value] : Origins::headers(*origin)) response.headers[name] = value;
    response.headers.try_emplace("Cache-Control", "no-store");
    return response;
}

HTTPResponse Router::handle(const HTTPRequest& request) {
    std::optional<std::string> origin = request.header("origin");
    HTTPResponse response = decorate(route(request, origin), origin);
    if (request.method == "HEAD") response.headOnly = true;
    return response;
}

UploadStart Router::upload(const HTTPRequest& head) {
    if (head.method != "POST" || !is(segmentsOf(head.path), {"trelk", "upload"}))
        return {UploadStart::NotUpload{}};
    std::optional<std::string> origin = head.header("origin");
    if (!hostPasses(head) || !origin || !Origins::allowed(*origin))
        return {UploadStart::Refuse{decorate(notAllowed(), origin)}};
    if (!tokenPasses(head)) return {UploadStart::Refuse{decorate(pairFirst(), origin)}};
    try {
        std::shared_ptr<Upload> begun = sources.uploads.begin(head);
        begun->origin = origin;
        return {UploadStart::Accept{std::move(begun)}};
    } catch (const UploadRefusal& refusal) {
        return {UploadStart::Refuse{decorate(refused(refusal), origin)}};
    }
}

HTTPResponse Router::uploaded(Upload& upload, std::optional<UploadRefusal> error) {
    return decorate(uploadEnd(upload, std::move(error)), upload.origin);
}

HTTPResponse Router::uploadEnd(Upload& upload, std::optional<UploadRefusal> error) {
    if (error) {
        sources.uploads.abort(upload);
        return refused(*error);
    }
    try {
        return HTTPResponse::json(sources.uploads.finish(upload));
    } catch (const UploadRefusal& refusal) {
        return refused(refusal);
    } catch (const std::exception&) {
        return HTTPResponse::error(500, Uploads::dropUnwritable);
    }
}

// The browser's copy of a project: what the desktop holds of its wall list comes back, with the
// library files the project uses.
HTTPResponse Router::project(const HTTPRequest& request) {
    // The parser keeps its own stack rather than recursing, so any nesting the size limit allows is safe.
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    std::optional<Project> posted = Project::fromJSON(body);
    if (!posted || posted->id.empty() || posted->walls.size() > maxWalls) return HTTPResponse::error(400, "not a project");
    const std::optional<WallList> list = sources.projects.sync(*posted);
    const std::optional<Project> stored = sources.projects.project(posted->id);
    nlohmann::json files = nlohmann::json::array();
    if (stored)
        for (const std::string& file : stored->files()) files.push_back(file);
    return HTTPResponse::json({{"files", std::move(files)}, {"list", list ? list->json() : nlohmann::json(nullptr)}});
}

HTTPResponse Router::uploadCheck(const HTTPRequest& request) const {
    const std::optional<std::string> bytes = request.parameter("bytes");
    std::optional<UploadRefusal> refusal =
        sources.uploads.check(request.decodedParameter("name"), bytes ? Text::parseDigits(*bytes) : std::nullopt);
    if (refusal) return refused(*refusal);
    return HTTPResponse::json({{"max", Uploads::maxBytes}, {"ok", true}});
}

// The assets' text was written with the listing; only the jobs, which change while making, are
// written for each request. The same bytes as writing the whole object: its keys are in order.
HTTPResponse Router::library() const {
    const Assets listing = sources.assets();
    std::optional<std::string> jobs = HTTPResponse::compactJSON(JobListing::json(sources.jobs()));
    if (!listing->json || !jobs) return HTTPResponse::error(500, "couldn't write the reply");
    constexpr std::string_view start = R"({"assets":)", middle = R"(,"jobs":)";
    std::string text;
    text.reserve(start.size() + listing->json->size() + middle.size() + jobs->size() + 1);
    text.append(start).append(*listing->json).append(middle).append(*jobs).append("}");
    return HTTPResponse::jsonBody(std::move(text));
}

bool Router::tokenPasses(const HTTPRequest& request) const {
    const std::optional<std::string> token = request.parameter("t");
    return token && sources.pairing.valid(*token);
}

HTTPResponse Router::hello(const HTTPRequest& request) const {
    return HTTPResponse::json({{"app", "vorlane-trelk"}, {"paired", tokenPasses(request)}, {"version", version}});
}

HTTPResponse Router::pair(const std::optional<std::string>& origin) {
    if (!origin) return HTTPResponse::error(403, "pairing needs a browser page");
    Pairing::Request asked = sources.pairing.request(*origin);
    if (sources.onPairRequest) sources.onPairRequest(asked.id, asked.code, *origin);
    return HTTPResponse::json({{"code", asked.code}, {"id", asked.id}});
}

HTTPResponse Router::pairState(const std::string& id) const {
    Pairing::State state = sources.pairing.state(id);
    switch (state.kind) {
    case Pairing::State::Kind::pending: return HTTPResponse::json({{"state", "pending"}});
    case Pairing::State::Kind::allowed:
        return HTTPResponse::json({{"state", "allowed"}, {"token", state.value}});
    case Pairing::State::Kind::denied: return HTTPResponse::json({{"state", "denied"}});
    case Pairing::State::Kind::unknown: break;
    }
    return HTTPResponse::error(404, "no such request");
}
