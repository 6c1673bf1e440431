#pragma once
#include "TrelkCore/Jobs/Job.h"

#include <nlohmann/json_fwd.hpp>

#include <vector>

// The jobs as the library listing shows them to the browser.
namespace JobListing {

// One object per job that is not done, in the order given.
nlohmann::json json(const std::vector<Job>& jobs);

} // namespace JobListing
