// The job queue's own costs: one watch pass over a busy "Drop here" and many made records, and
// the runner's work around the engine for masters that go into the library as they are.
#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Making/LadderEngine.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int dropped = 1000, records = 10000;

// Gives the facts of a small H.264 master at once: what is measured is the runner alone.
class InstantEngine : public LadderEngine {
public:
    MasterInfo probe(const fs::path&) override {
        MasterInfo info;
        info.w = 320;
        info.h = 180;
        info.fps = 25;
        info.codec = "avc1";
        return info;
    }
    int64_t make(const fs::path&, const MasterInfo&, const LadderPlan&, const fs::path&, const Progress&,
                 const Cancelled&) override {
        return 0;
    }
};

void watchPass(benchmark::State& state) {
    TempFolder folder;
    const fs::path library = folder / "library", store = folder / "service" / "masters.json";
    fs::create_directories(library / "Drop here");
    fs::create_directories(library / "Masters");
    for (int i = 0; i < dropped; ++i) writeFile(library / "Drop here" / ("clip " + std::to_string(i) + ".mp4"), "x");
    nlohmann::json made = nlohmann::json::object();
    for (int i = 0; i < records; ++i) {
        const fs::path kept = library / "Masters" / ("kept " + std::to_string(i) + ".mov");
        writeFile(kept, "x");
        made[kept.string()] = {{"modified", 0.0}, {"output", "kept " + std::to_string(i)}};
    }
    fs::create_directories(store.parent_path());
    writeFile(store, made.dump());
    InstantEngine engine;
    Jobs jobs(library, engine, store);
    jobs.setQuiet(1e12); // every file is looked at and compared, none is ever queued
    for (auto _ : state) jobs.watch();
}
BENCHMARK(watchPass)->Unit(benchmark::kMillisecond);

// From add to done, all but the engine: the job taken, the work folder, the moves, the records.
void runnerCost(benchmark::State& state, const std::string& name) {
    TempFolder folder;
    const fs::path library = folder / "library", pristine = folder / name;
    if (name.ends_with(".png")) TestMedia::still(pristine, 320, 180);
    else TestMedia::video(pristine, 320, 180);
    InstantEngine engine;
    Jobs jobs(library, engine, folder / "service" / "masters.json");
    const fs::path master = jobs.dropFolder() / name;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(library / fs::path(name).stem());
        fs::copy_file(pristine, master);
        state.ResumeTiming();
        jobs.add(master, Origin::dropped);
        while (!jobs.idle()) std::this_thread::yield();
    }
    if (!fs::exists(library / fs::path(name).stem() / name)) state.SkipWithError("not made");
}
BENCHMARK_CAPTURE(runnerCost, usableVideo, std::string("Clip.mp4"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runnerCost, still, std::string("Logo.png"))->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
