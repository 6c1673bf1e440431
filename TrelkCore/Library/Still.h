#pragma once
#include <filesystem>

namespace Still {

// The still as a PNG of its full size, orientation applied. Throws TrelkError.
void png(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace Still
