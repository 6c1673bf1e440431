#include "TrelkCore/Service/Pairing.h"

#include "TrelkCore/Build.h"
#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <string>

using json = nlohmann::json;

namespace {

constexpr int64_t storeLimit = 16 << 20; // far beyond any real number of tokens

std::string newCode() {
    std::string digits = std::to_string(Crypto::randomBelow(10000));
    return std::string(4 - digits.size(), '0') + digits;
}

std::optional<std::map<std::string, std::string>> tokensIn(std::string_view text) {
    json value = json::parse(text, nullptr, false);
    if (!value.is_object()) return std::nullopt;
    std::map<std::string, std::string> tokens;
    for (const auto& [token, origin] : value.items()) {
        if (!origin.is_string()) return std::nullopt;
        tokens[token] = origin.get<std::string>();
    }
    return tokens;
}

// Anything but an object of strings to strings means no tokens at all.
std::map<std::string, std::string> loadTokens(std::optional<StoreFile>& store) {
    if (!store) return {};
    std::optional<std::string> text = store->read();
    if (!text) return {};
    std::optional<std::map<std::string, std::string>> tokens = tokensIn(*text);
    if (!tokens) store->unreadable();
    return tokens.value_or(std::map<std::string, std::string>{});
}

} // namespace

Pairing::Pairing(std::optional<std::filesystem::path> path, Clock now)
    : now(std::move(now)) {
    if (path) store.emplace(std::move(*path), storeLimit, 0600);
    tokens = loadTokens(store);
}

int Pairing::count() const {
    std::lock_guard guard(lock);
    return int(tokens.size());
}

Pairing::Request Pairing::request(const std::string& origin) {
    std::lock_guard guard(lock);
    std::erase_if(pending, [&](const auto& entry) { return expiredLocked(entry.second); });
    while (pending.size() >= mostPending)
        pending.erase(std::ranges::min_element(pending, {}, [](const auto& entry) { return entry.second.at; }));
    Request made{Crypto::randomHex(16), newCode()};
    pending[made.id] = Pending{made.code, origin, now(), State::pending(made.code)};
    return made;
}

Pairing::State Pairing::state(const std::string& id) const {
    std::lock_guard guard(lock);
    auto entry = pending.find(id);
    if (entry == pending.end()) return State::unknown();
    const Pending& found = entry->second;
    if (found.state.kind == State::Kind::pending && expiredLocked(found)) return State::unknown();
    return found.state;
}

std::optional<std::chrono::duration<double>> Pairing::timeLeft(const std::string& id) const {
    std::lock_guard guard(lock);
    auto entry = pending.find(id);
    if (entry == pending.end() || entry->second.state.kind != State::Kind::pending || expiredLocked(entry->second))
        return std::nullopt;
    return lifetime - (now() - entry->second.at);
}

void Pairing::answer(const std::string& id, Decision decision) {
    std::lock_guard guard(lock);
    auto entry = pending.find(id);
    // The page has stopped asking once its request expired: a late Allow must not pair it.
    if (entry == pending.end() || entry->second.state.kind != State::Kind::pending || expiredLocked(entry->second))
        return;
    if (decision == Decision::deny) {
        entry->second.state = State::denied();
        return;
    }
    std::string token = Crypto::randomHex(32);
    tokens[token] = entry->second.origin;
    entry->second.state = State::allowed(std::move(token));
    saveLocked();
}

bool Pairing::valid(std::optional<std::string_view> token) const {
    if (!token || token->empty()) return false;
    std::lock_guard guard(lock);
    return tokens.contains(std::string(*token));
}

void Pairing::forgetAll() {
    std::lock_guard guard(lock);
    tokens.clear();
    saveLocked();
}

std::chrono::duration<double> Pairing::ttl() const {
    std::lock_guard guard(lock);
    return lifetime;
}

void Pairing::setTTL(std::chrono::duration<double> ttl) {
    std::lock_guard guard(lock);
    lifetime = ttl;
}

bool Pairing::expiredLocked(const Pending& entry) const {
    return now() - entry.at >= lifetime;
}

void Pairing::saveLocked() {
    // Replacing bad bytes keeps every token in the file even if an origin was not UTF-8.
    if (store) store->save(json(tokens).dump(-1, ' ', false, json::error_handler_t::replace));
}

namespace Origins {

namespace {

struct Origin {
    std::string scheme;
    std::string host;
    std::optional<int> port;
    std::string_view path;
};

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool validScheme(std::string_view scheme) {
    if (scheme.empty() || !isAlpha(scheme.front())) return false;
    for (char c : scheme)
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

bool validHost(std::string_view host) {
    if (host.empty()) return false;
    for (char c : host)
        if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.') return false;
    return true;
}

std::optional<int> parsePort(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (!isDigit(c)) return std::nullopt;
    std::optional<int64_t> port = Text::parseInteger(text);
    if (!port || *port > 65535) return std::nullopt;
    return int(*port);
}

// scheme "://" host [":" port] [path]. Browsers never send user info, a query, a fragment or
// odd bytes in an origin, so anything like that is refused rather than interpreted.
std::optional<Origin> parse(std::string_view text) {
    for (unsigned char c : text)
        if (c <= ' ' || c >= 0x7f || c == '@' || c == '?' || c == '#') return std::nullopt;
    size_t separator = text.find("://");
    if (separator == std::string_view::npos || !validScheme(text.substr(0, separator)))
        return std::nullopt;
    Origin origin{Text::lowercased(text.substr(0, separator)), {}, std::nullopt, {}};
    std::string_view rest = text.substr(separator + 3);
    size_t slash = std::min(rest.find('/'), rest.size());
    std::string_view authority = rest.substr(0, slash);
    origin.path = rest.substr(slash);
    size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        origin.port = parsePort(authority.substr(colon + 1));
        if (!origin.port) return std::nullopt;
    }
    std::string_view host = authority.substr(0, colon);
    if (!validHost(host)) return std::nullopt;
    origin.host = Text::lowercased(host);
    return origin;
}

bool isWebHost(const std::string& host) {
    for (const char* webHost : {Build::webHost, Build::webWWWHost, Build::webBetaHost})
        if (host == Text::lowercased(webHost)) return true;
    return false;
}

// One preview-deployment label: "vorlane-app-" LABEL suffix, the label without dots.
bool isPreviewHost(std::string_view host) {
    constexpr std::string_view prefix = "vorlane-app-";
    const std::string suffix = Text::lowercased(Build::webPreviewSuffix);
    if (host.size() < prefix.size() + suffix.size()) return false;
    if (!host.starts_with(prefix) || !host.ends_with(suffix)) return false;
    host.remove_prefix(prefix.size());
    host.remove_suffix(suffix.size());
    return host.find('.') == std::string_view::npos; // what is left is the label
}

} // namespace

bool allowed(std::optional<std::string_view> text) {
    if (!text) return false;
    std::optional<Origin> origin = parse(*text);
    if (!origin || (!origin->path.empty() && origin->path != "/")) return false;
    if (origin->scheme == "https")
        return !origin->port && (isWebHost(origin->host) || isPreviewHost(origin->host));
    if (origin->scheme == "http") return origin->host == "localhost" || origin->host == "127.0.0.1";
    return false;
}

bool loopbackHost(std::string_view text) {
    const std::string host = Text::lowercased(text);
    for (std::string_view name : {"localhost", "127.0.0.1", "[::1]"}) {
        if (!host.starts_with(name)) continue;
        const std::string_view rest = std::string_view(host).substr(name.size());
        if (rest.empty() || (rest.front() == ':' && parsePort(rest.substr(1)))) return true;
    }
    return false;
}

std::map<std::string, std::string> headers(std::string_view origin) {
    return {
        {"Access-Control-Allow-Origin", std::string(origin)},
        {"Vary", "Origin"},
        {"Access-Control-Allow-Private-Network", "true"},
        {"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
        {"Access-Control-Allow-Headers", "Content-Type, Range"},
        {"Access-Control-Expose-Headers", "Content-Range, Content-Length, Accept-Ranges"},
    };
}

} // namespace Origins
