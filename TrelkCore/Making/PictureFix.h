#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a master's pictures need to show upright, progressive and in Rec. 709 standard range on
// a wall. The probe reads it beside the master's facts; peers never see it.
struct PictureFix {
    enum class Transfer { sdr, pq, hlg };
    // How samples that state no colour matrix are read.
    enum class Untagged { no, bt709, bt601 };

    int quarterTurns = 0;  // clockwise, after any mirroring
    bool mirrored = false; // left and right swapped
    Transfer transfer = Transfer::sdr;
    std::string primaries = "bt2020"; // FFmpeg's name for an HDR master's primaries
    bool interlaced = false;
    Untagged untagged = Untagged::no;
    std::vector<std::string> assumed; // what the probe took for granted, for the terminal

    bool sideways() const { return quarterTurns % 2 != 0; }
    // From a display matrix (3 × 3, 16.16 and 2.30 fixed point, as files store it). A matrix
    // that is no quarter turn or mirror leaves the picture as it is stored, and says so.
    void orient(const std::array<int32_t, 9>& matrix);
    // From FFmpeg's names of the master's transfer and primaries; "" when not stated.
    void readTransfer(std::string_view transferName, std::string_view primariesName);
    // From FFmpeg's name of the field order: "tt", "bb", "tb" and "bt" are interlaced.
    void readFieldOrder(std::string_view order);
    // Untagged samples are Rec. 709 at 720 lines or more, BT.601 below.
    void readMatrix(bool tagged, int64_t codedHeight);

    // libavfilter's chain for the fixes, to run before any scaling; empty when none is needed.
    // It ends in standard range when the master is HDR.
    std::string filters() const;
    // The chain for pictures that keep their samples' colour matrix, as the file made of them
    // states it: only untagged BT.601 samples are turned into the Rec. 709 the file will say.
    std::string filtersKeepingMatrix() const;
    // The scale filter's name of the matrix the samples are read with: "auto" when tagged.
    std::string_view sourceMatrix() const;

    bool operator==(const PictureFix&) const = default;
};
