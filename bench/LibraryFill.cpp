#include "bench/LibraryFill.h"

#include "tests/support/TempFolder.h"

#include <nlohmann/json.hpp>
#include <vips/vips.h>

namespace fs = std::filesystem;

namespace LibraryFill {

// 10,000 plain videos, 1,000 stills and 100 packages of a wide file and three strips, spread
// over folders the way a library grows.
void fill(const fs::path& made) {
    for (int i = 0; i < videos; ++i) {
        fs::path shelf = made / ("Shoot " + std::to_string(i / 100));
        if (i % 100 == 0) fs::create_directories(shelf);
        writeFile(shelf / ("clip " + std::to_string(i) + ".mp4"), "");
    }
    VIPS_INIT("LibraryFill");
    VipsImage* picture = nullptr;
    vips_black(&picture, 64, 36, nullptr);
    const fs::path first = made / "Stills" / "still 0.png";
    fs::create_directories(first.parent_path());
    vips_pngsave(picture, first.c_str(), nullptr);
    g_object_unref(picture);
    for (int i = 1; i < stills; ++i)
        fs::copy_file(first, made / "Stills" / ("still " + std::to_string(i) + ".png"));
    for (int i = 0; i < packages; ++i) {
        const std::string name = "Wide " + std::to_string(i);
        const fs::path folder = made / "Packages" / name;
        fs::create_directories(folder);
        nlohmann::json strips = nlohmann::json::array();
        writeFile(folder / (name + ".wide-3840x540.mp4"), "");
        for (int x : {0, 1536, 3072}) {
            const std::string strip = name + ".strip-x" + std::to_string(10000 + x) + "-w1536.mp4";
            writeFile(folder / strip, "");
            strips.push_back({{"file", strip}, {"x", x}, {"w", 1536}});
        }
        writeFile(folder / (name + ".vorlane.json"),
                  nlohmann::json{{"format", "vorlane-previs"},
                                 {"version", 1},
                                 {"master", {{"name", name}, {"fps", "25"}, {"w", 7680}, {"h", 1080}}},
                                 {"wide", {{"file", name + ".wide-3840x540.mp4"}}},
                                 {"strips", strips}}
                      .dump(2));
    }
}

} // namespace LibraryFill
