// The window over 11,100 assets and 30 jobs: opening it, and the main thread's share of a
// refresh (the rows of a project and a search, and a view's list model told what changed).
#include "app/Desktop/LibraryPane.h"
#include "app/Desktop/ManagerWindow.h"
#include "app/Window/LibraryListModel.h"
#include "bench/LibraryFill.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <benchmark/benchmark.h>

#include <QListView>

namespace fs = std::filesystem;

namespace {

constexpr int jobs = 30;

ScriptedDesktop& desktop() {
    static ScriptedDesktop user;
    return user;
}

// One model over the filled library with its jobs queued, the first of them making.
WindowModel& model() {
    static OffscreenLoop loop;
    static TempFolder folder;
    static HeldEngine engine;
    static WindowModel* made = [] {
        LibraryFill::fill(folder / "library");
        fs::create_directories(folder / "masters");
        WindowModel* model = &(new WindowModels(desktop(), folder, &engine))->window;
        std::vector<fs::path> masters;
        for (int i = 0; i < jobs; ++i) {
            masters.push_back(folder / "masters" / ("master " + std::to_string(i) + ".mov"));
            writeFile(masters.back(), "x");
        }
        model->addFiles(masters, "w", "p", false);
        OffscreenLoop::runUntil([&] {
            const TrelkModel& service = model->service();
            return service.assets().size() == LibraryFill::assets && service.jobs().size() == jobs &&
                   service.jobs().front().is<Job::Making>();
        });
        return model;
    }();
    return *made;
}

void rows(benchmark::State& state) {
    WindowModel& trelk = model();
    const std::string search = state.range(0) ? "CLIP 12" : "";
    size_t shown = 0;
    for (auto _ : state)
        shown = LibraryRows::of(trelk, search).shown.size();
    state.counters["shown"] = double(shown);
}

// The same rows with one job's progress changed: one row is told, none rebuilt.
void refresh(benchmark::State& state) {
    WindowModel& trelk = model();
    LibraryRows rows = LibraryRows::of(trelk, "");
    LibraryListModel list;
    list.update(rows, trelk.probed());
    int changed = 0;
    QObject::connect(&list, &QAbstractItemModel::dataChanged, [&] { ++changed; });
    auto& making = std::get<Job::Making>(rows.groups.front().jobs.front().state);
    for (auto _ : state) {
        making.fraction += 0.001;
        list.update(rows, trelk.probed());
    }
    state.counters["rowsTold"] = double(changed) / double(state.iterations());
}

// Made, shown and drawn once, as it opens from the menu.
void openWindow(benchmark::State& state) {
    WindowModel& trelk = model();
    for (auto _ : state) {
        ManagerWindow window(trelk, desktop());
        window.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(window.grab());
    }
}

// A refresh of the pane when the library is as it was: the cost of each redraw while jobs make,
// which compares the job rows only and never rebuilds the list.
void refreshPane(benchmark::State& state) {
    WindowModel& trelk = model();
    LibraryPane pane(trelk, desktop());
    pane.refresh();
    int resets = 0;
    QObject::connect(pane.findChild<QListView*>()->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    for (auto _ : state) pane.refresh();
    state.counters["resets"] = resets;
}

} // namespace

BENCHMARK(openWindow)->Name("openWindow")->Unit(benchmark::kMillisecond);
BENCHMARK(refreshPane)->Name("refreshPane")->Unit(benchmark::kMillisecond);
BENCHMARK(rows)->Name("rows")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(refresh)->Name("refreshOneJob")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
