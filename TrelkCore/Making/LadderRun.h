#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Making/LadderEngine.h"
#include "TrelkCore/Platform/Media.h"
#include "TrelkCore/Platform/MediaAsset.h"
#include "TrelkCore/Platform/MediaReader.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <variant>

// One making of one master: decoded once, every file of the plan written from that pass.
struct LadderRun {
    // Pictures decoded by the media libraries.
    struct LibraryPictures {
        std::shared_ptr<const Media::MediaAsset> master;
        Media::VideoTrack track;
    };
    // Pictures decoded by the ffmpeg program, for codecs the libraries cannot decode.
    struct ProgramPictures {
        std::filesystem::path ffmpeg;
        std::filesystem::path master;
    };
    // The master's own sound, or on the program's road the sound it extracted.
    struct Sound {
        std::shared_ptr<const Media::MediaAsset> asset;
        Media::AudioTrack track;
    };

    std::variant<LibraryPictures, ProgramPictures> pictures;
    std::optional<Sound> sound{};
    Media::Time start{}; // of the master's first picture on the sound's clock: times are counted from it
    MasterInfo info{};
    LadderPlan plan{};
    std::filesystem::path dir{};

    // Blocks until every file is written; returns the number of pictures written into each.
    // Throws DecodeFailure when the libraries cannot decode the first picture, TrelkError,
    // CancellationError, or the platform's error; whatever was started is stopped first.
    int64_t run(const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled) const;
};
