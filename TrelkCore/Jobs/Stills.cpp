#include "TrelkCore/Jobs/Stills.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Library/Still.h"
#include "TrelkCore/Library/StillSizes.h"
#include "TrelkCore/MediaKinds.h"

namespace fs = std::filesystem;

namespace Stills {

Made planned(const fs::path& still, const std::string& base) {
    if (MediaKinds::stillTypes.contains(MediaKinds::extension(still))) return {still.filename().string(), true};
    return {base + ".png", false};
}

Made make(const fs::path& still, const fs::path& into, const std::string& base, Making::Transfer transfer) {
    if (!Library::stillSize(still)) throw TrelkError("couldn't read this picture");
    const Made made = planned(still, base);
    if (made.asItIs)
        Making::putAsItIs(still, into, transfer);
    else
        Still::png(still, into / made.file);
    return made;
}

} // namespace Stills
