#include "TrelkCore/Platform/Crypto.h"

#include <openssl/rand.h>
#include <openssl/evp.h>

#include <stdexcept>
#include <vector>

namespace Crypto {

namespace {

void fillRandom(unsigned char* bytes, size_t count) {
    if (RAND_bytes(bytes, int(count)) != 1) throw std::runtime_error("the random source failed");
}

std::string hex(const unsigned char* bytes, size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

} // namespace

std::string randomHex(size_t count) {
    std::vector<unsigned char> bytes(count);
    fillRandom(bytes.data(), count);
    return hex(bytes.data(), count);
}

std::string randomUUID() {
    std::string hex = randomHex(16);
    hex[12] = '4';                                  // version: random
    hex[16] = "89ab"[std::stoi(hex.substr(16, 1), nullptr, 16) & 3]; // variant: RFC 4122
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

std::string sha256Hex(std::string_view bytes) {
    // Fetched once: looking the digest up on every call costs more than hashing a short path.
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!sha256 || EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha256, nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return hex(digest, length);
}

uint32_t randomBelow(uint32_t bound) {
    // Reject the top sliver of the range so that every result is equally likely.
    const uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
    while (true) {
        uint32_t value;
        fillRandom(reinterpret_cast<unsigned char*>(&value), sizeof value);
        if (value < limit) return value % bound;
    }
}

} // namespace Crypto
