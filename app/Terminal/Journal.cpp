#include "app/Terminal/Journal.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

// $JOURNAL_STREAM is "DEVICE:INODE" of the journal's socket; a child with other output sees
// the variable too, so the stream's own file is compared.
bool goesToJournal(std::FILE* stream) {
    const char* named = std::getenv("JOURNAL_STREAM");
    struct stat facts {};
    if (!named || ::fstat(fileno(stream), &facts) != 0) return false;
    return std::to_string(facts.st_dev) + ":" + std::to_string(facts.st_ino) == named;
}

} // namespace

std::string Journal::prefix(std::FILE* stream, Priority priority) {
    if (!goesToJournal(stream)) return {};
    return "<" + std::to_string(int(priority)) + ">";
}
