#pragma once
#include <filesystem>
#include <optional>
#include <string>

// What must hold before `serve` builds its stores, so that a service started at login says what
// is wrong instead of making folders in the wrong place: a home to keep them in, and a library
// that is there.
struct ServeProblem {
    // Exit statuses: the problem stays until someone mends it, or may pass by itself (a disk
    // that is mounted after login), so that a service manager may try again later.
    static constexpr int lasting = 1;
    static constexpr int passing = 75;

    std::string message;
    int status = lasting;
};

std::optional<ServeProblem> serveProblem(const std::filesystem::path& home, const std::filesystem::path& library);
