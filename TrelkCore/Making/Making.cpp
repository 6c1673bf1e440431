#include "TrelkCore/Making/Making.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/AlphaEncode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/MadeCheck.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/FileMoves.h"
#include "TrelkCore/Platform/Files.h"

#include <chrono>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int64_t stripWidth = 1536;
constexpr int64_t overlap = 128;

// Where a making writes, hidden from the library and the folder watch; it goes when the making
// ends, with whatever is left in it: half-made files, the engine's scratch files.
class WorkFolder {
public:
    explicit WorkFolder(const fs::path& into) : path(into / (".trelk-make-" + Crypto::randomHex(4))) {
        // A folder of that name is another making's: never share it.
        if (!fs::create_directory(path))
            throw std::system_error(std::make_error_code(std::errc::file_exists), "create " + path.string());
    }
    ~WorkFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const fs::path path;
};

int64_t sizeOf(const fs::path& file) {
    std::optional<Files::Facts> facts = Files::facts(file);
    return facts ? facts->size : 0;
}

// What is made of the master; none when it goes into the library as it is.
std::optional<LadderPlan> ladderOf(const fs::path& master, const MasterInfo& info) {
    if (Ladder::usableAsIs(info, MediaKinds::extension(master))) return std::nullopt;
    const bool alpha = info.alpha && FFDecode::canAlpha();
    return LadderPlan::plan(Ladder::base(master.filename().string()), info.w, info.h, stripWidth, overlap,
                            alpha ? LadderPlan::Alpha::yes : LadderPlan::Alpha::no);
}

// The ladder's files, checked whole, and a package's manifest, made in `work`.
Making::Made makeLadder(LadderEngine& engine, const LadderPlan& plan, const fs::path& master, const MasterInfo& info,
                        const fs::path& work, std::string_view encoder, const LadderEngine::Progress& progress,
                        const LadderEngine::Cancelled& cancelled) {
    const std::string name = master.filename().string();
    const int64_t written = engine.make(master, info, plan, work, progress, cancelled);
    MadeCheck::requireWhole(plan, work, written, master, info);
    Making::Made made{info, plan.files(), plan.file};
    if (!plan.isPackage()) return made;
    const std::string manifest = plan.manifestData(
        name, info, [&](const std::string& file) { return sizeOf(work / file); },
        plan.alpha ? AlphaEncode::encoderName : encoder, std::chrono::system_clock::now());
    if (manifest.empty()) throw TrelkError("couldn't write the package manifest");
    Files::writeAtomically(work / plan.manifest(), manifest, 0644);
    made.files.push_back(plan.manifest());
    made.madeFile = plan.manifest();
    return made;
}

// The master as it is, or the ladder the plan gives, made in `work`.
Making::Made madeIn(const std::optional<LadderPlan>& plan, LadderEngine& engine, const fs::path& master,
                    const MasterInfo& info, const fs::path& work, Making::Transfer transfer, std::string_view encoder,
                    const LadderEngine::Progress& progress, const LadderEngine::Cancelled& cancelled) {
    if (plan) return makeLadder(engine, *plan, master, info, work, encoder, progress, cancelled);
    Making::putAsItIs(master, work, transfer);
    const std::string name = master.filename().string();
    return Making::Made{info, {name}, name, true};
}

} // namespace

namespace Making {

void putAsItIs(const fs::path& master, const fs::path& into, Transfer transfer) {
    const fs::path made = into / master.filename();
    if (transfer == Transfer::link) return Files::linkOrCopy(master, made);
    Files::copyFile(master, made);
}

std::vector<std::string> files(const fs::path& master, const MasterInfo& info) {
    const std::optional<LadderPlan> plan = ladderOf(master, info);
    if (!plan) return {master.filename().string()};
    std::vector<std::string> names = plan->files();
    if (plan->isPackage()) names.push_back(plan->manifest());
    return names;
}

Made video(LadderEngine& engine, const fs::path& master, const MasterInfo& info, const fs::path& into,
           Transfer transfer, std::string_view encoder, const LadderEngine::Progress& progress,
           const LadderEngine::Cancelled& cancelled) {
    Files::createFolders(into);
    const std::optional<LadderPlan> plan = ladderOf(master, info);
    if (!plan) return madeIn(plan, engine, master, info, into, transfer, encoder, progress, cancelled);
    const WorkFolder work(into);
    Made made = madeIn(plan, engine, master, info, work.path, transfer, encoder, progress, cancelled);
    // One by one, the manifest last: a package is listed only once it is whole.
    for (const std::string& file : made.files) fs::rename(work.path / file, into / file);
    return made;
}

Made videoIn(LadderEngine& engine, const fs::path& master, const MasterInfo& info, const fs::path& work,
             Transfer transfer, std::string_view encoder, const LadderEngine::Progress& progress,
             const LadderEngine::Cancelled& cancelled) {
    return madeIn(ladderOf(master, info), engine, master, info, work, transfer, encoder, progress, cancelled);
}

} // namespace Making
