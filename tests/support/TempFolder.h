#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return folder; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return folder / name; }

private:
    std::filesystem::path folder;
};

// Writes bytes to path, replacing what was there.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// The whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// The permission bits of a file; 0 when it cannot be read.
mode_t modeOf(const std::filesystem::path& path);
