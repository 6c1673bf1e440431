// Feeds arbitrary bytes to the request parser, the target splitter and the range parser, and
// stops at the first result that breaks what callers rely on.
#include "TrelkCore/Service/HTTP.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        HTTPResponse reply(206, {}, HTTPResponse::File{"file", part->lower, part->upper});
        require(reply.length() >= 1 && reply.length() <= size, "a part's length is within the size");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkHead(bytes);
    checkResumedHead(bytes);
    checkParse(bytes);
    checkSplit(bytes);
    checkRange(bytes);
    return 0;
}
