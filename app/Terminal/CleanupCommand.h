#pragma once
#include <string_view>
#include <vector>

// `cleanup [--trash GROUP…]`: the clean-up plan as the sheet shows it, and with --trash the chosen
// groups moved to the Trash. Returns the exit status; 2 for a usage error.
int cleanupCommand(const std::vector<std::string_view>& arguments);
