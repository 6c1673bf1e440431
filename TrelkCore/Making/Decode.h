#pragma once
#include <string>
#include <string_view>

namespace Decode {

// What the user is told when the platform cannot decode a master of this codec.
std::string failure(std::string_view codec);

} // namespace Decode
