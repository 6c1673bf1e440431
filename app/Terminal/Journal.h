#pragma once
#include <cstdio>
#include <string>

// Lines written to a stream the journal reads (systemd names it in $JOURNAL_STREAM) may start
// with a syslog priority, "<3>" for an error; anywhere else the prefix would only be noise.
namespace Journal {

enum class Priority { error = 3, warning = 4, info = 6 };

// "<N>" when stream goes to the journal, else empty.
std::string prefix(std::FILE* stream, Priority priority);

} // namespace Journal
