#include "TrelkCore/Jobs/Job.h"

#include "TrelkCore/Platform/Crypto.h"

// The first eight characters of a random UUID are eight random hexadecimal digits.
std::string Job::newID() { return "j" + newBatch(); }

std::string Job::newBatch() { return Crypto::randomHex(4); }
