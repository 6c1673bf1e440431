#include "TrelkCore/Library/Still.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Library/StillSizes.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Images.h"

namespace fs = std::filesystem;

namespace Still {

void png(const fs::path& from, const fs::path& to) {
    if (!Files::isRegular(from) || !Library::stillSize(from)) throw TrelkError("couldn't read this picture");
    switch (Images::writePNG(from, to)) {
    case Images::PNGResult::written: return;
    case Images::PNGResult::unreadable: throw TrelkError("couldn't read this picture");
    case Images::PNGResult::unwritable: throw TrelkError("couldn't write the PNG");
    }
}

} // namespace Still
