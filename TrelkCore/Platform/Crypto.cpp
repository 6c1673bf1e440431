#include "TrelkCore/Platform/Crypto.h"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace Crypto {

namespace {

void fillRandom(unsigned char* bytes, size_t count) {
    if (RAND_bytes(bytes, int(count)) != 1) throw std::runtime_error("the random source failed");
}

} // namespace

std::string randomHex(size_t count) {
    std::vector<unsigned char> bytes(count);
    fillRandom(bytes.data(), count);
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
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
