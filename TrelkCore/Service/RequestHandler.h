#pragma once
#include "TrelkCore/Service/HTTP.h"

#include <variant>

// How the server's answerer takes a request whose head has just arrived.
struct UploadStart {
    struct NotUpload {};
    struct Refuse {
        HTTPResponse response;
    };
    std::variant<NotUpload, Refuse> value;
};

// What the server asks of whoever answers its requests: the router in the service.
// Called on the server's thread only.
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    virtual UploadStart upload(const HTTPRequest& head) = 0;
    // The decorated reply to a whole request.
    virtual HTTPResponse handle(const HTTPRequest& request) = 0;
};
