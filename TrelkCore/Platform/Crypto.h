#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Crypto {

// count bytes from the cryptographically secure source, as 2 × count lower-case hex digits.
std::string randomHex(size_t count);

// A fresh random (version 4) UUID in its canonical text form, lower-cased: 36 characters.
std::string randomUUID();

// The SHA-256 digest of bytes as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// A uniformly random integer from 0 to bound − 1, from the same source.
uint32_t randomBelow(uint32_t bound);

} // namespace Crypto
