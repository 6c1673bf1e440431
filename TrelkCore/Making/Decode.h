#pragma once
#include "TrelkCore/Error.h"

#include <string>
#include <string_view>

namespace Decode {

// What the user is told when the platform cannot decode a master of this codec.
std::string failure(std::string_view codec);

} // namespace Decode

// The platform could not decode the master's pictures: the making may go through the ffmpeg
// program instead. Its message is Decode::failure of the codec.
struct DecodeFailure : TrelkError {
    explicit DecodeFailure(std::string_view codec) : TrelkError(Decode::failure(codec)) {}
};
