#pragma once
#include "TrelkCore/StoreFile.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Pending pairing requests and the tokens of paired pages, kept in the store file.
class Pairing {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct State {
        enum class Kind { pending, allowed, denied, unknown };
        Kind kind;
        std::string value; // the code while pending, the token once allowed

        static State pending(std::string code) { return {Kind::pending, std::move(code)}; }
        static State allowed(std::string token) { return {Kind::allowed, std::move(token)}; }
        static State denied() { return {Kind::denied, {}}; }
        static State unknown() { return {Kind::unknown, {}}; }
        bool operator==(const State&) const = default;
    };

    struct Pending {
        std::string code;
        std::string origin;
        std::chrono::steady_clock::time_point at;
        State state;
    };

    struct Request {
        std::string id;
        std::string code;
    };

    enum class Decision { allow, deny };

    // A flood of requests costs neither memory nor time: beyond this the oldest is dropped.
    static constexpr size_t mostPending = 32;

    // Loads the tokens from store; an unreadable store starts with none. No store: memory only.
    explicit Pairing(std::optional<std::filesystem::path> store,
                     Clock now = std::chrono::steady_clock::now);

    int count() const;
    Request request(const std::string& origin);
    State state(const std::string& id) const;
    // How long the request may still be answered; none once it is answered, expired or dropped.
    std::optional<std::chrono::duration<double>> timeLeft(const std::string& id) const;
    // An answer to a request that is no longer pending is ignored.
    void answer(const std::string& id, Decision decision);
    bool valid(std::optional<std::string_view> token) const;
    void forgetAll();

    std::chrono::duration<double> ttl() const;
    void setTTL(std::chrono::duration<double> ttl);

private:
    bool expiredLocked(const Pending& entry) const;
    void saveLocked();

    std::optional<StoreFile> store;
    const Clock now;
    mutable std::mutex lock; // guards pending, tokens and lifetime
    std::map<std::string, Pending> pending;
    std::map<std::string, std::string> tokens; // token → the origin that received it
    std::chrono::duration<double> lifetime{120.0};
};

namespace Origins {

// Whether a page of this origin may use the service.
bool allowed(std::optional<std::string_view> origin);
// Whether a Host header names this machine's loopback: a page whose site name was rebound to
// 127.0.0.1 sends its own name instead.
bool loopbackHost(std::string_view host);

// The CORS and private-network headers that let an allowed page read a reply.
std::map<std::string, std::string> headers(std::string_view origin);

} // namespace Origins
