#pragma once
#include "TrelkCore/Error.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Decode {

// What the user is told when the platform cannot decode a master of this codec.
std::string failure(std::string_view codec);

// A probe's failure as the terminal tells it: our own messages say what failed; the libraries'
// own texts ("Invalid data found when processing input") are put after what was being done.
std::string unreadable(const std::exception& failure);

} // namespace Decode

// A master that could not be read: its message is the reader's own words, as the job tells them;
// `told` is what the terminal says, with what failed.
struct UnreadableMaster : std::runtime_error {
    explicit UnreadableMaster(const std::exception& cause)
        : std::runtime_error(cause.what()), told(Decode::unreadable(cause)) {}
    std::string told;
};

// The platform could not decode the master's pictures: the making may go through the ffmpeg
// program instead. Its message is Decode::failure of the codec.
struct DecodeFailure : TrelkError {
    explicit DecodeFailure(std::string_view codec) : TrelkError(Decode::failure(codec)) {}
};
