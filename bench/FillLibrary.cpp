// Fills a library for the idle benchmark: FillLibrary LIBRARY SERVICE-FOLDER KEPT gives the
// library of LibraryBench and KEPT masters kept in "Masters" with their records in masters.json.
#include "bench/LibraryFill.h"
#include "tests/support/TempFolder.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const fs::path library = argv[1], service = argv[2];
    LibraryFill::fill(library);
    nlohmann::json records = nlohmann::json::object();
    fs::create_directories(library / "Masters");
    for (int i = 0; i < std::atoi(argv[3]); ++i) {
        const fs::path kept = library / "Masters" / ("kept " + std::to_string(i) + ".mov");
        writeFile(kept, "x");
        const auto modified = fs::file_time_type::clock::to_sys(fs::last_write_time(kept));
        records[kept.string()] = {{"modified", std::chrono::duration<double>(modified.time_since_epoch()).count()},
                                  {"output", "kept " + std::to_string(i)}};
    }
    fs::create_directories(service);
    writeFile(service / "masters.json", records.dump());
}
