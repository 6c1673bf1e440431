#pragma once
#include "app/Window/WindowModel.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the walls pane shows, as records the window draws: one section per project the browser
// posted, one row per wall, and the wall's list when the project's list belongs to it.
namespace WallRows {

constexpr std::string_view title = "Walls";
constexpr std::string_view hint = "Select in the library, then Add · or drag onto a wall";
// Instead of sections, while no project is known.
constexpr std::string_view empty = "Open a project in VorlaneWeb, linked, and its walls show here";

// The halves of a wall that files are dragged over.
constexpr std::string_view oneCueZone = "One cue · pieces of one video";
constexpr std::string_view separateZone = "Separate cues";
// Whether files dropped at x of a row this wide become one cue: the left half does.
bool oneCue(double x, double width);

struct Remark {
    enum class Tone { warning, secondary };
    std::string text;
    Tone tone;
    bool operator==(const Remark&) const = default;
};

// One item of a wall's list.
struct Entry {
    std::string id;      // the list item's, for moving and removing it
    size_t position = 0; // counted from 1
    std::string name;
    std::vector<std::string> notes; // how the asset fits the wall
    std::optional<Remark> remark;
    bool canMoveUp = false;
    bool canMoveDown = false;
    bool operator==(const Entry&) const = default;
};

struct Row {
    std::string id;
    std::string name;
    std::string size;                                // with the rate the wall asks for
    std::optional<std::string> count = std::nullopt; // only for the wall the project's list belongs to
    std::string addTip;
    std::vector<Entry> entries = {};
    std::vector<std::string> pending; // the names of the additions still being made
    bool operator==(const Row&) const = default;
};

// Asked before a project with ties is forgotten.
struct ForgetAsk {
    std::string title;
    std::string message;
    bool operator==(const ForgetAsk&) const = default;
};

struct Section {
    std::string id;
    std::string name;
    std::string seen;
    std::optional<ForgetAsk> forgetAsk; // none: "Forget" forgets at once
    std::vector<Row> rows;
    bool operator==(const Section&) const = default;
};

// The sections in the model's order of projects; selected is how many library assets are selected.
std::vector<Section> sections(const WindowModel& model, size_t selected, std::chrono::system_clock::time_point now);

} // namespace WallRows
