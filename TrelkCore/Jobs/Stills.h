#pragma once
#include "TrelkCore/Making/Making.h"

#include <filesystem>
#include <string>

// A still made the way the queue makes it: kept as it is when browsers show its type, otherwise
// a PNG of its full size, orientation applied.
namespace Stills {

struct Made {
    std::string file; // in the target folder: the still itself, or base + ".png"
    bool asItIs = false;
};

// What the still becomes, without making anything.
Made planned(const std::filesystem::path& still, const std::string& base);
// Makes the still's one file in `into`. Throws TrelkError "couldn't read this picture" or
// "couldn't write the PNG", or the file system's error.
Made make(const std::filesystem::path& still, const std::filesystem::path& into, const std::string& base,
          Making::Transfer transfer);

} // namespace Stills
