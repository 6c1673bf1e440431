#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

class LadderEngine;

// Where the service keeps its stores and the library, the ports it tries, and the file of the
// user's choices.
struct ServiceSetup {
    std::filesystem::path serviceFolder;
    std::vector<uint16_t> ports; // none: the service listens nowhere
    std::filesystem::path library;
    std::optional<std::filesystem::path> settings = std::nullopt; // none: the user's choices are not kept
    LadderEngine* engine = nullptr; // none: the model's own; else it must outlive the model

    // The user's own service folder, library folder, settings file and the service's ports.
    static ServiceSetup standard();
};
