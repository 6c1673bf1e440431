#pragma once
#include "TrelkCore/Library/Sets.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Where a master comes from: "Drop here" (or an upload into it), which hands the file to the
// queue to keep in "Masters" once made, or a place of the user's, where it stays untouched.
enum class Origin { dropped, inPlace };
// How a set lists its parts: by their names, or in the order they were given (one cue).
enum class PartOrder { byName, asGiven };

// One making of one master. Callers get copies; the queue keeps the one that counts.
struct Job {
    struct Queued {
        bool operator==(const Queued&) const = default;
    };
    struct Making {
        double fraction = 0;
        bool operator==(const Making&) const = default;
    };
    struct Done {
        bool operator==(const Done&) const = default;
    };
    struct Failed {
        std::string message;
        std::string told = {}; // for the terminal, when the message does not say what failed
        bool operator==(const Failed&) const = default;
    };
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };
    using State = std::variant<Queued, Making, Done, Failed, Cancelled>;

    std::string id;
    std::filesystem::path master; // standardized
    Origin origin = Origin::inPlace; // dropped: the queue owns the master and may move it
    State state = Queued{};
    std::optional<std::string> set;
    std::optional<std::string> batch;
    std::optional<int64_t> setIndex;
    PartOrder order = PartOrder::byName;
    std::optional<SetPart> part;
    std::optional<std::string> asset;
    std::optional<std::string> setAsset;
    std::vector<std::string> assumed; // what the making took for granted where the master was unclear

    template <class Case> bool is() const { return std::holds_alternative<Case>(state); }
    bool active() const { return is<Queued>() || is<Making>(); }
    bool stopped() const { return is<Failed>() || is<Cancelled>(); }
    bool dropped() const { return origin == Origin::dropped; }
    std::string name() const { return master.filename().string(); }

    bool operator==(const Job&) const = default;

    // "j" and eight hexadecimal digits, fresh each time.
    static std::string newID();
    // A batch of jobs made by one drop: eight hexadecimal digits.
    static std::string newBatch();
};
