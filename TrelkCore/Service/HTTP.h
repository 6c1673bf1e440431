#pragma once
#include "TrelkCore/Platform/Files.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

// Why bytes are not a request. Both kinds are answered the same way (400).
struct HTTPError : std::exception {
    enum class Kind { malformed, tooLarge };
    Kind kind;

    explicit HTTPError(Kind kind) : kind(kind) {}
    const char* what() const noexcept override {
        return kind == Kind::malformed ? "malformed request" : "request too large";
    }
};

using HTTPHeaders = std::map<std::string, std::string>;
using HTTPQuery = std::map<std::string, std::string>;

struct HTTPRequest {
    // Largest head, and largest body outside uploads.
    static constexpr size_t limit = 65536;

    std::string method;
    std::string path;
    HTTPQuery query;
    HTTPHeaders headers;
    std::string body;
    // Query keys whose value did not decode and is kept as it was sent.
    std::set<std::string> undecoded;

    HTTPRequest(std::string method, std::string path, HTTPQuery query, HTTPHeaders headers,
                std::string body = {});

    struct Head;

    // The request line and headers; none while the blank line has not arrived. Throws HTTPError.
    // The first searched bytes are known to hold no blank line: a caller whose buffer grows
    // piece by piece looks at each byte once.
    static std::optional<Head> head(std::string_view bytes, size_t searched = 0);
    // The body length a head announces. Throws HTTPError when it is not one we take.
    static size_t bodyLength(const HTTPRequest& head);
    // A whole request with its body; none while bytes are missing. Throws HTTPError.
    static std::optional<HTTPRequest> parse(std::string_view bytes);
    // A request target as (path, query), both decoded; the keys of values that did not decode
    // are added to undecoded.
    static std::pair<std::string, HTTPQuery> split(std::string_view target, std::set<std::string>* undecoded = nullptr);

    std::optional<std::string> header(std::string_view name) const;
    // A query parameter's value, or none when the query lacks it.
    std::optional<std::string> parameter(const std::string& key) const;
    // The "content-length" header's value; none when it is missing or not digits alone (RFC 9110).
    std::optional<int64_t> contentLength() const;
    // A query parameter as parameter gives it, none also when it did not decode: for a value that must be what the client meant.
    std::optional<std::string> decodedParameter(const std::string& key) const;

    bool operator==(const HTTPRequest&) const = default;
};

struct HTTPRequest::Head {
    HTTPRequest request;
    size_t end; // offset just past the blank line
};

struct HTTPResponse {
    // Bytes of a file on disk, lower to upper inclusive, read when the reply is sent from the
    // file opened when the reply was made: what is sent is the file that was checked.
    struct File {
        std::shared_ptr<const Files::Descriptor> source;
        int64_t lower;
        int64_t upper;
        bool operator==(const File&) const = default;
    };
    using Body = std::variant<std::string, File>;

    int status;
    HTTPHeaders headers;
    Body body;
    bool headOnly = false; // a reply to HEAD, or 304: neither the body nor its length is sent

    HTTPResponse(int status, HTTPHeaders headers, Body body = std::string());

    // The value as compact JSON with sorted keys, text that is not UTF-8 repaired; 500 when it
    // cannot be written.
    static HTTPResponse json(const nlohmann::json& value, int status = 200);
    // Text already written as JSON, the way json() writes it.
    static HTTPResponse jsonBody(std::string text, int status = 200);
    // The text json() sends; none when the value cannot be written.
    static std::optional<std::string> compactJSON(const nlohmann::json& value);
    // {"error": message}
    static HTTPResponse error(int status, std::string_view message);
    static std::string_view reason(int status);

    // Status line and header block, with "Content-Length" (unless headOnly) and "Connection" set.
    std::string head() const;
    int64_t length() const;
};

namespace ByteRange {

struct Part {
    int64_t lower;
    int64_t upper;
    bool operator==(const Part&) const = default;
};
struct Whole {
    bool operator==(const Whole&) const = default;
};
struct Unsatisfiable {
    bool operator==(const Unsatisfiable&) const = default;
};
using Result = std::variant<Part, Whole, Unsatisfiable>;

// What a "Range" header asks of a file of size bytes. One range only; anything else is whole.
Result parse(std::optional<std::string_view> header, int64_t size);

} // namespace ByteRange
