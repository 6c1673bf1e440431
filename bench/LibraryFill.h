#pragma once
#include <cstddef>
#include <filesystem>

// A large library for benchmarks: 10,000 plain videos, 1,000 stills and 100 packages.
namespace LibraryFill {

constexpr int videos = 10000, stills = 1000, packages = 100;
constexpr size_t assets = videos + stills + packages;

void fill(const std::filesystem::path& folder);

} // namespace LibraryFill
