#pragma once
#include <string_view>

// The folders the library keeps for itself, by name: the listing leaves them out, the job queue
// and the uploads work in them.
namespace LibraryFolders {

inline constexpr std::string_view drop = "Drop here"; // masters put here are made, then kept
inline constexpr std::string_view masters = "Masters"; // where made masters are kept
// A making's work folder, hidden from the listing and the folder watch, moved into place whole.
inline constexpr std::string_view workPrefix = ".making-";

} // namespace LibraryFolders
