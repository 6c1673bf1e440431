#include "TrelkCore/MediaKinds.h"

#include "TrelkCore/Platform/Text.h"

namespace fs = std::filesystem;

namespace MediaKinds {

std::string extension(const fs::path& path) {
    std::string text = path.extension().string();
    return Text::lowercased(text.empty() ? text : text.substr(1));
}

bool isMaster(const fs::path& path) { return masterTypes.contains(extension(path)); }
bool isFFContainer(const fs::path& path) { return ffContainerTypes.contains(extension(path)); }
bool isStill(const fs::path& path) { return isStillName(path.filename().string()); }

bool isStillName(std::string_view name) {
    std::string type = extension(fs::path(name));
    return stillTypes.contains(type) || stillMadeTypes.contains(type);
}

} // namespace MediaKinds
