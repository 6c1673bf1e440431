#pragma once
#include "app/Service/DesktopServices.h"

// The desktop services in Qt: a modal message box, a file dialog, the desktop's default
// applications, and the file manager over D-Bus.
class QtDesktop : public DesktopServices {
public:
    void activate() override;
    std::optional<size_t> alert(const Alert& alert) override;
    std::optional<std::vector<std::filesystem::path>> chooseFiles(const FileChoice& choice) override;
    void open(const std::string& address) override;
    void reveal(const std::vector<std::filesystem::path>& files) override;
    void quit() override;
};
