#pragma once
#include "TrelkCore/Jobs/Job.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/Pairing.h"
#include "TrelkCore/Service/RequestHandler.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>
#include <optional>
#include <string>
#include <string_view>

// The service's whole HTTP surface: gate, preflight, route table, token rule and headers.
class Router : public RequestHandler {
public:
    using PairRequest = std::function<void(std::string id, std::string code, std::string origin)>;
    using Assets = std::shared_ptr<const std::vector<Asset>>;
    using AssetProvider = std::function<Assets()>;

    Router(Pairing& pairing, std::string version, AssetProvider assets, PairRequest onPairRequest = {});

    HTTPResponse route(const HTTPRequest& request, const std::optional<std::string>& origin);
    static HTTPResponse decorate(HTTPResponse response, const std::optional<std::string>& origin);
    HTTPResponse handle(const HTTPRequest& request) override;
    UploadStart upload(const HTTPRequest& head) override;

    // A file as 200, 206 or 416 by the range asked for; 404 when it has no readable size.
    static HTTPResponse file(const std::filesystem::path& path, std::optional<std::string_view> range);

    // Called on the server's thread when a page asks to pair; must return at once.
    PairRequest onPairRequest;
    // The job queue's list, read on the server's thread.
    std::function<std::vector<Job>()> jobs;

private:
    bool tokenPasses(const HTTPRequest& request) const;
    HTTPResponse hello(const HTTPRequest& request) const;
    HTTPResponse pair(const std::optional<std::string>& origin);
    HTTPResponse pairState(const std::string& id) const;

    Pairing& pairing;
    const std::string version;
    const AssetProvider assets;
};
