#include "TrelkCore/Making/Making.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Making/AlphaEncode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Files.h"

#include <chrono>

namespace fs = std::filesystem;

namespace {

constexpr int64_t stripWidth = 1536;
constexpr int64_t overlap = 128;

void putAsItIs(const fs::path& master, const fs::path& target, Making::Transfer transfer) {
    if (transfer == Making::Transfer::move) fs::rename(master, target);
    else fs::copy_file(master, target, fs::copy_options::overwrite_existing);
}

// What the engine leaves of its scratch files.
void removeScratch(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().filename().string().find(".sb-") != std::string::npos) {
            std::error_code ignored;
            fs::remove_all(entry->path(), ignored);
        }
}

int64_t sizeOf(const fs::path& file) {
    std::optional<Files::Facts> facts = Files::facts(file);
    return facts ? facts->size : 0;
}

} // namespace

namespace Making {

Made video(LadderEngine& engine, const fs::path& master, const MasterInfo& info, const fs::path& into,
           Transfer transfer, std::string_view encoder, const LadderEngine::Progress& progress,
           const LadderEngine::Cancelled& cancelled) {
    const std::string name = master.filename().string();
    Made made{info, {}, {}};
    Files::createFolders(into);
    if (Ladder::usableAsIs(made.info, MediaKinds::extension(master))) {
        putAsItIs(master, into / name, transfer);
        made.files = {name};
        made.madeFile = name;
        return made;
    }
    const bool alpha = made.info.alpha && FFDecode::canAlpha();
    const LadderPlan plan = LadderPlan::plan(Ladder::base(name), made.info.w, made.info.h, stripWidth, overlap,
                                             alpha ? LadderPlan::Alpha::yes : LadderPlan::Alpha::no);
    engine.make(master, made.info, plan, into, progress, cancelled);
    removeScratch(into);
    made.files = plan.files();
    if (!plan.isPackage()) {
        made.madeFile = plan.file;
        return made;
    }
    const std::string manifest = plan.manifestData(
        name, made.info, [&](const std::string& file) { return sizeOf(into / file); },
        plan.alpha ? AlphaEncode::encoderName : encoder, std::chrono::system_clock::now());
    if (manifest.empty()) throw TrelkError("couldn't write the package manifest");
    Files::writeAtomically(into / plan.manifest(), manifest, 0644);
    made.files.push_back(plan.manifest());
    made.madeFile = plan.manifest();
    return made;
}

} // namespace Making
