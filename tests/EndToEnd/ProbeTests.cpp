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

TEST(Probe, FailureNamesTheMasterAndWhatFailedWithExitStatusOne) {
    TempFolder folder;
    writeFile(folder / "notes.mov", "not a movie at all");
    Child child(TRELK_PROGRAM, {"probe", (folder / "notes.mov").string()});
    child.closeInput();
    EXPECT_EQ(child.readAll(), "") << "the message goes to standard error";
    EXPECT_EQ(child.wait(), 1);
    // Standard error, as a terminal shows it.
    Child told("/bin/sh", {"-c", "\"$0\" probe \"$1\" 2>&1", TRELK_PROGRAM, (folder / "missing.mov").string()});
    told.closeInput();
    EXPECT_EQ(told.readAll(), (folder / "missing.mov").string() + ": couldn't read the master: No such file or directory\n");
    EXPECT_EQ(told.wait(), 1);
}

TEST(Probe, SaysWhatAStillIsAndWhatTheServiceMakesOfIt) {
    TempFolder folder;
    for (const std::string name : {"photo.jpg", "scan.tiff"})
        runProgram(FFDecode::path().value(), {"-v", "error", "-f", "lavfi", "-i", "testsrc=s=64x36", "-frames:v", "1",
                                              (folder / name).string()});
    for (const auto& [name, facts] :
         {std::pair{"photo.jpg", json{{"kind", "still"}, {"w", 64}, {"h", 36}, {"file", "photo.jpg"}, {"asItIs", true}}},
          std::pair{"scan.tiff", json{{"kind", "still"}, {"w", 64}, {"h", 36}, {"file", "scan.png"}, {"asItIs", false}}}}) {
        Child child(TRELK_PROGRAM, {"probe", (folder / name).string()});
        child.closeInput();
        EXPECT_EQ(json::parse(child.readAll()), facts) << name;
        EXPECT_EQ(child.wait(), 0);
    }
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
