#pragma once
#include <string_view>
#include <vector>

// `make FILE… [--into FOLDER]`: the renditions of each master, with progress on the terminal.
// Returns the exit status; 2 for a usage error.
int makeCommand(const std::vector<std::string_view>& arguments);
