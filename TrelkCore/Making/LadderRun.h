#pragma once
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Making/LadderEngine.h"
#include "TrelkCore/Platform/Media.h"
#include "TrelkCore/Platform/MediaAsset.h"
#include "TrelkCore/Platform/MediaReader.h"

#include <filesystem>
#include <memory>
#include <optional>

// One making of one master: decoded once, every file of the plan written from that pass.
struct LadderRun {
    std::shared_ptr<const Media::MediaAsset> asset{}; // the master, or on the FFmpeg road its sound
    std::optional<Media::VideoTrack> vt{};
    std::optional<Media::AudioTrack> at{};
    Media::Time start{}; // of the master's first picture
    MasterInfo info{};
    LadderPlan plan{};
    std::filesystem::path dir{};
    std::optional<std::filesystem::path> ffmpeg{}; // pictures come from FFFrames when present
    std::optional<std::filesystem::path> master{};

    // Blocks until every file is written. Throws TrelkError, CancellationError, or the
    // platform's error; whatever was started is stopped first.
    void run(const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled) const;

    // The sample with its time moved back by offset; none when it then starts before zero.
    static std::optional<Media::AudioSample> shift(Media::AudioSample sample, Media::Time offset);
};
