#pragma once
#include <filesystem>
#include <optional>
#include <string>

// The user's choices kept from one run to the next, in an INI file; without a file nothing is
// kept and nothing is found.
class Settings {
public:
    explicit Settings(std::optional<std::filesystem::path> file) : file(std::move(file)) {}

    // The project the library is shown for.
    std::optional<std::string> libraryProject() const;
    // None removes the choice.
    void keepLibraryProject(const std::optional<std::string>& project) const;

private:
    std::optional<std::filesystem::path> file;
};
