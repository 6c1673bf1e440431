#pragma once
#include "TrelkCore/Platform/Files.h"

#include <filesystem>
#include <map>
#include <string>

// Whether anything under a folder may have changed, from the kernel's change notices, so that a
// folder nobody touched need not be read again. Where notices cannot be had (a network file
// system, a folder that is not there, too many events, no watches left) it always says yes.
class TreeChanges {
public:
    explicit TreeChanges(std::filesystem::path folder);

    // True the first time, and whenever something under the folder (hidden items aside) may have
    // changed since the last call.
    bool changed();

private:
    // Watches the folder and every visible folder in it; false when that could not be done whole.
    bool watchAll();
    void watchTree(const std::filesystem::path& folder, int depth);
    // Reads the notices that came; whether any of them tells of a change.
    bool drain();

    const std::filesystem::path folder;
    Files::Descriptor notices;
    bool watching = false; // every folder of the tree is watched
    bool complete = true;  // the last watchAll reached every folder
};
