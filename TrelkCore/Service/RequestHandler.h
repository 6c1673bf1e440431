#pragma once
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/Upload.h"
#include "TrelkCore/Service/UploadRefusal.h"

#include <memory>
#include <optional>
#include <variant>

// How the server's answerer takes a request whose head has just arrived.
struct UploadStart {
    struct NotUpload {};
    struct Refuse {
        HTTPResponse response;
    };
    // The body goes into the upload as it arrives.
    struct Accept {
        std::shared_ptr<Upload> upload;
    };
    std::variant<NotUpload, Refuse, Accept> value;
};

// What the server asks of whoever answers its requests: the router in the service.
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // On the server's thread.
    virtual UploadStart upload(const HTTPRequest& head) = 0;
    // On the server's thread: the decorated reply to a whole request.
    virtual HTTPResponse handle(const HTTPRequest& request) = 0;
    // The reply that ends an accepted upload: error is why its file or body failed, none once
    // every byte is in. Called on the server's disk thread, after the upload's last write.
    virtual HTTPResponse uploaded(Upload& upload, std::optional<UploadRefusal> error) = 0;
};
