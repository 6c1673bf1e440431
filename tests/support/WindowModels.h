#pragma once
#include "app/Service/TrelkModel.h"
#include "app/Window/WindowModel.h"

#include "tests/support/TempFolder.h"

#include <optional>
#include <vector>

// The service model over the folder's "service" and "library", listening on the ports given
// (none by default), and the window model over it.
struct WindowModels {
    WindowModels(DesktopServices& user, const TempFolder& folder, LadderEngine* engine,
                 std::optional<std::filesystem::path> settings = std::nullopt, std::vector<uint16_t> ports = {})
        : service(user, {folder / "service", std::move(ports), folder / "library", std::move(settings), engine}),
          window(service) {}

    TrelkModel service;
    WindowModel window;
};
