#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace Crypto {

// count bytes from the cryptographically secure source, as 2 × count lower-case hex digits.
std::string randomHex(size_t count);

// A uniformly random integer from 0 to bound − 1, from the same source.
uint32_t randomBelow(uint32_t bound);

} // namespace Crypto
