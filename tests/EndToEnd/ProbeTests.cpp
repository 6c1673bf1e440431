// `vorlane-trelk probe` on masters made here with the real ffmpeg.
#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

using nlohmann::json;

namespace {

TEST(Probe, PrintsTheFactsOfAMasterUnderTheFieldNames) {
    TempFolder folder;
    const auto master = folder / "clip one.mov";
    runProgram(FFDecode::path().value(), {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=64x36:r=25:d=0.4", "-f",
                                          "lavfi", "-i", "sine=d=0.4", "-c:v", "libx264", "-c:a", "aac", "-shortest",
                                          master.string()});
    Child child(TRELK_PROGRAM, {"probe", master.string()});
    child.closeInput();
    const json facts = json::parse(child.readAll());
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(facts.at("w"), 64);
    EXPECT_EQ(facts.at("h"), 36);
    EXPECT_EQ(facts.at("fps"), 25.0);
    EXPECT_EQ(facts.at("fpsText"), "25/1") << "the frame duration at its timescale";
    EXPECT_EQ(facts.at("frames"), 10);
    EXPECT_EQ(facts.at("codec"), "avc1") << "read by the media libraries, not ffprobe";
    EXPECT_EQ(facts.at("audio"), true);
    EXPECT_EQ(facts.at("alpha"), false);
    EXPECT_EQ(facts.at("color"),
              (json{{"primaries", "ITU_R_709_2"}, {"transfer", "ITU_R_709_2"}, {"matrix", "ITU_R_709_2"}}));
    EXPECT_GT(facts.at("duration"), 0.3);
}

TEST(Probe, FailureIsItsMessageAndExitStatusOne) {
    TempFolder folder;
    writeFile(folder / "notes.mov", "not a movie at all");
    Child child(TRELK_PROGRAM, {"probe", (folder / "notes.mov").string()});
    child.closeInput();
    EXPECT_EQ(child.readAll(), "") << "the message goes to standard error";
    EXPECT_EQ(child.wait(), 1);
}

TEST(Probe, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "f.mov").c_str(), 0600), 0);
    Child child(TRELK_PROGRAM, {"probe", (folder / "f.mov").string()});
    child.closeInput();
    EXPECT_EQ(child.readAll(), "");
    EXPECT_EQ(child.wait(), 1);
}

} // namespace
