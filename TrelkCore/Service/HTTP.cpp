#include "TrelkCore/Service/HTTP.h"

#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view blankLine = "\r\n\r\n";

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    size_t start = 0;
    while (true) {
        size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            result.push_back(text.substr(start));
            return result;
        }
        result.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

// The part decoded, or as it was sent (less its "+") when it does not decode.
std::optional<std::string> decodedQueryPart(std::string_view part, std::string& raw) {
    raw = part;
    std::replace(raw.begin(), raw.end(), '+', ' ');
    return Text::percentDecoded(raw);
}

HTTPHeaders lowercasedNames(HTTPHeaders headers) {
    HTTPHeaders result;
    for (auto& [name, value] : headers) result[Text::lowercased(name)] = std::move(value);
    return result;
}

[[noreturn]] void malformed() { throw HTTPError(HTTPError::Kind::malformed); }

} // namespace

HTTPRequest::HTTPRequest(std::string method, std::string path, HTTPQuery query, HTTPHeaders headers,
                         std::string body)
    : method(std::move(method)), path(std::move(path)), query(std::move(query)),
      headers(lowercasedNames(std::move(headers))), body(std::move(body)) {}

std::optional<HTTPRequest::Head> HTTPRequest::head(std::string_view bytes, size_t searched) {
    // Only the first limit + 1 bytes may hold the blank line, so that the longest head accepted
    // is the same whether the bytes arrive at once or one by one.
    const size_t from = std::min(searched, bytes.size());
    size_t blank = bytes.substr(0, limit + 1).find(blankLine, from < blankLine.size() ? 0 : from - blankLine.size() + 1);
    if (blank == std::string_view::npos) {
        if (bytes.size() <= limit) return std::nullopt;
        throw HTTPError(HTTPError::Kind::tooLarge);
    }
    std::string_view text = bytes.substr(0, blank);
    if (!Text::validUTF8(text)) malformed();

    std::vector<std::string_view> all = lines(text);
    std::vector<std::string_view> requestLine = Text::split(all.front(), ' ');
    if (requestLine.size() != 3 || !requestLine[2].starts_with("HTTP/1.")) malformed();

    HTTPHeaders headers;
    for (size_t i = 1; i < all.size(); ++i) {
        std::string_view line = all[i];
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) malformed();
        std::string name = Text::lowercased(Text::trim(line.substr(0, colon)));
        std::string value(Text::trim(line.substr(colon + 1)));
        // Two lengths leave the body's end unknown: RFC 9112 refuses the request.
        if (auto [at, added] = headers.try_emplace(name, value); !added) {
            if (name == "content-length" && at->second != value) malformed();
            at->second = std::move(value);
        }
    }
    std::set<std::string> undecoded;
    auto [path, query] = split(requestLine[1], &undecoded);
    std::string method = std::string(requestLine[0]);
    std::transform(method.begin(), method.end(), method.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
    Head head{HTTPRequest(std::move(method), std::move(path), std::move(query), std::move(headers)),
              blank + blankLine.size()};
    head.request.undecoded = std::move(undecoded);
    return head;
}

std::optional<HTTPRequest> HTTPRequest::parse(std::string_view bytes) {
    std::optional<Head> head = HTTPRequest::head(bytes);
    if (!head) return std::nullopt;
    const size_t length = bodyLength(head->request);
    if (bytes.size() - head->end < length) return std::nullopt;
    head->request.body = std::string(bytes.substr(head->end, length));
    return std::move(head->request);
}

size_t HTTPRequest::bodyLength(const HTTPRequest& head) {
    if (!head.header("content-length")) return 0;
    std::optional<int64_t> length = head.contentLength();
    if (!length || *length > int64_t(limit)) throw HTTPError(HTTPError::Kind::tooLarge);
    return size_t(*length);
}

std::pair<std::string, HTTPQuery> HTTPRequest::split(std::string_view target, std::set<std::string>* undecoded) {
    size_t mark = target.find('?');
    std::string_view rawPath = target.substr(0, mark);
    std::string path = Text::percentDecoded(rawPath).value_or(std::string(rawPath));
    HTTPQuery query;
    if (mark == std::string_view::npos) return {std::move(path), std::move(query)};
    for (std::string_view piece : Text::split(target.substr(mark + 1), '&')) {
        std::vector<std::string_view> parts = Text::split(piece, '=', 1);
        if (parts.empty()) continue;
        std::string rawKey, rawValue;
        std::string key = decodedQueryPart(parts[0], rawKey).value_or(rawKey);
        std::optional<std::string> value = decodedQueryPart(parts.size() > 1 ? parts[1] : "", rawValue);
        if (undecoded) {
            if (value) undecoded->erase(key);
            else undecoded->insert(key);
        }
        query[std::move(key)] = value.value_or(rawValue);
    }
    return {std::move(path), std::move(query)};
}

std::optional<std::string> HTTPRequest::header(std::string_view name) const {
    auto found = headers.find(Text::lowercased(name));
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> HTTPRequest::parameter(const std::string& key) const {
    auto found = query.find(key);
    if (found == query.end()) return std::nullopt;
    return found->second;
}

std::optional<int64_t> HTTPRequest::contentLength() const {
    std::optional<std::string> value = header("content-length");
    return value ? Text::parseDigits(*value) : std::nullopt;
}

std::optional<std::string> HTTPRequest::decodedParameter(const std::string& key) const {
    if (undecoded.contains(key)) return std::nullopt;
    return parameter(key);
}

HTTPResponse::HTTPResponse(int status, HTTPHeaders headers, Body body)
    : status(status), headers(std::move(headers)), body(std::move(body)) {}

std::optional<std::string> HTTPResponse::compactJSON(const nlohmann::json& value) {
    try {
        // Object keys are kept sorted by nlohmann::json. A job named by a file whose name is not
        // UTF-8 shows U+FFFD rather than hiding every other one.
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

HTTPResponse HTTPResponse::json(const nlohmann::json& value, int status) {
    std::optional<std::string> text = compactJSON(value);
    if (!text) return jsonBody(R"({"error":"couldn't write the reply"})", 500);
    return jsonBody(std::move(*text), status);
}

HTTPResponse HTTPResponse::jsonBody(std::string text, int status) {
    return HTTPResponse(status, {{"Content-Type", "application/json"}}, std::move(text));
}

HTTPResponse HTTPResponse::error(int status, std::string_view message) {
    return json(nlohmann::json{{"error", message}}, status);
}

std::string_view HTTPResponse::reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 507: return "Insufficient Storage";
    default: return "Status";
    }
}

std::string HTTPResponse::head() const {
    HTTPHeaders all = headers; // a std::map: names come out in ascending byte order
    if (!headOnly) all["Content-Length"] = std::to_string(length());
    all["Connection"] = "close";
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason(status)) + "\r\n";
    for (const auto& [name, value] : all) text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

int64_t HTTPResponse::length() const {
    if (const auto* data = std::get_if<std::string>(&body)) return int64_t(data->size());
    const File& file = std::get<File>(body);
    return file.upper - file.lower + 1;
}

namespace ByteRange {

Result parse(std::optional<std::string_view> header, int64_t size) {
    if (!header) return Whole{};
    std::string_view text = Text::trim(*header);
    constexpr std::string_view unit = "bytes=";
    if (!text.starts_with(unit) || size <= 0) return Whole{};
    text.remove_prefix(unit.size());
    size_t dash = text.find('-');
    if (text.find(',') != std::string_view::npos || dash == std::string_view::npos) return Whole{};

    const int64_t last = size - 1;
    std::string_view startText = Text::trim(text.substr(0, dash));
    std::string_view endText = Text::trim(text.substr(dash + 1));
    // RFC 9110: a range that is not digits is no range at all, and the whole file is the answer.
    if (!Text::allDigits(startText.empty() ? endText : startText) || (!endText.empty() && !Text::allDigits(endText)))
        return Whole{};
    if (startText.empty()) {
        std::optional<int64_t> count = Text::parseInteger(endText);
        if (!count || *count < 1) return Unsatisfiable{};
        return Part{std::max<int64_t>(0, size - *count), last};
    }
    std::optional<int64_t> start = Text::parseInteger(startText);
    if (!start || *start >= size) return Unsatisfiable{};
    int64_t end = std::min(Text::parseInteger(endText).value_or(last), last);
    if (end < *start) return Unsatisfiable{};
    return Part{*start, end};
}

} // namespace ByteRange
