#pragma once
#include "TrelkCore/Jobs/Job.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Projects/Projects.h"
#include "TrelkCore/Service/AssetListing.h"
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/Pairing.h"
#include "TrelkCore/Service/RequestHandler.h"
#include "TrelkCore/Service/Uploads.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The service's whole HTTP surface: gate, preflight, route table, token rule and headers.
class Router : public RequestHandler {
public:
    using PairRequest = std::function<void(std::string id, std::string code, std::string origin)>;
    // The last scan's assets, shared rather than copied for each request.
    using Assets = std::shared_ptr<const AssetListing>;

    // What the router answers from. The stores outlive it; the functions are called on the
    // server's thread and must return at once.
    struct Sources {
        Pairing& pairing;
        Uploads& uploads;
        Projects& projects;
        std::filesystem::path libraryFolder;    // files are served only from beneath it
        std::function<Assets()> assets;         // never gives null
        std::function<std::vector<Job>()> jobs; // the job queue's, in queue order
        PairRequest onPairRequest = {};         // a page asks to pair; may be left out
    };

    Router(std::string version, Sources sources);

    HTTPResponse route(const HTTPRequest& request, const std::optional<std::string>& origin);
    static HTTPResponse decorate(HTTPResponse response, const std::optional<std::string>& origin);
    HTTPResponse handle(const HTTPRequest& request) override;
    UploadStart upload(const HTTPRequest& head) override;
    HTTPResponse uploaded(Upload& upload, std::optional<UploadRefusal> error) override;

    // An opened file, named for its type, as 200, 206, 304 or 416 by the request's range and
    // validators; 404 when it is not open or not a regular file.
    static HTTPResponse file(Files::Descriptor opened, std::string_view name, const HTTPRequest& request);

private:
    bool tokenPasses(const HTTPRequest& request) const;
    HTTPResponse hello(const HTTPRequest& request) const;
    HTTPResponse pair(const std::optional<std::string>& origin);
    HTTPResponse pairState(const std::string& id) const;
    HTTPResponse library() const;
    HTTPResponse project(const HTTPRequest& request);
    HTTPResponse uploadCheck(const HTTPRequest& request) const;
    HTTPResponse uploadEnd(Upload& upload, std::optional<UploadRefusal> error);
    HTTPResponse assetFile(const std::string& id, const std::string& name, const HTTPRequest& request) const;
    const std::string version;
    const Sources sources;
};
