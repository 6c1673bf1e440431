#pragma once
#include "TrelkCore/Making/LadderEngine.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The renditions of one video master: made in a hidden work folder inside the target folder,
// each finished file then moved into place, or made straight into a work folder of the caller's.
namespace Making {

struct Made {
    MasterInfo info;
    std::vector<std::string> files; // in the target folder: the rendition, or the wide file, strips and manifest
    std::string madeFile;           // the one file that stands for them: the rendition or the manifest
    bool asItIs = false;            // the master itself is the rendition
};

// How a master used as it is gets into the target folder: a copy, or a second name of the same
// file where the file system allows one (else a copy). The master itself always stays.
enum class Transfer { copy, link };

// Puts the master in the folder under its own name, as the transfer says; throws std::system_error.
void putAsItIs(const std::filesystem::path& master, const std::filesystem::path& into, Transfer transfer);

// The names of the files video() will put in its target folder for this master.
std::vector<std::string> files(const std::filesystem::path& master, const MasterInfo& info);

// Puts the probed master in `into` as it is when it can be used so, else plans its ladder, has
// the engine make it, checks that every made file is whole and writes a package's manifest
// naming `encoder`. What is made is moved into `into` one file at a time, the manifest last, so
// that a failure or a cancel leaves no half-made file there and a kill leaves each finished file
// in place.
// Throws TrelkError, CancellationError or the engine's own error; files already in place stay.
Made video(LadderEngine& engine, const std::filesystem::path& master, const MasterInfo& info,
           const std::filesystem::path& into, Transfer transfer, std::string_view encoder,
           const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled);

// The same, made straight into `work`, an existing folder hidden from the library that the caller
// moves into place whole: nothing is moved here, and a failure leaves what it made for the
// caller to remove.
Made videoIn(LadderEngine& engine, const std::filesystem::path& master, const MasterInfo& info,
             const std::filesystem::path& work, Transfer transfer, std::string_view encoder,
             const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled);

} // namespace Making
