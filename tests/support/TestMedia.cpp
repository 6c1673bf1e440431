#include "tests/support/TestMedia.h"

#include "TrelkCore/Making/FFDecode.h"
#include "tests/support/Child.h"

#include <stdexcept>

namespace fs = std::filesystem;

namespace TestMedia {

namespace {

fs::path run(const fs::path& out, int w, int h, std::vector<std::string> arguments) {
    std::optional<fs::path> ffmpeg = FFDecode::path();
    if (!ffmpeg) throw std::runtime_error("no ffmpeg beside the test program");
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    arguments.insert(arguments.begin(), {"-v", "error", "-nostdin", "-f", "lavfi", "-i", "testsrc=s=" + size + ":r=25"});
    arguments.insert(arguments.end(), {"-y", out.string()});
    runProgram(ffmpeg->string(), arguments);
    if (!fs::exists(out)) throw std::runtime_error("ffmpeg made no " + out.string());
    return out;
}

} // namespace

fs::path video(const fs::path& out, int w, int h, const std::vector<std::string>& codec, int pictures) {
    std::vector<std::string> arguments{"-frames:v", std::to_string(pictures)};
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    return run(out, w, h, arguments);
}

fs::path still(const fs::path& out, int w, int h) { return run(out, w, h, {"-frames:v", "1"}); }

} // namespace TestMedia
