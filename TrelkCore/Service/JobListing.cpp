#include "TrelkCore/Service/JobListing.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

// A job that is not done.
nlohmann::json objectOf(const Job& job) {
    nlohmann::json object{{"id", job.id}, {"name", job.name()}};
    if (job.is<Job::Queued>()) {
        object["state"] = "queued";
        object["progress"] = 0; // the integer, not 0.0
    } else if (const auto* making = std::get_if<Job::Making>(&job.state)) {
        object["state"] = "making";
        object["progress"] = std::round(making->fraction * 100) / 100; // half away from zero
    } else if (const auto* failed = std::get_if<Job::Failed>(&job.state)) {
        object["state"] = "failed";
        object["error"] = failed->message;
    } else {
        object["state"] = "cancelled";
    }
    return object;
}

} // namespace

namespace JobListing {

nlohmann::json json(const std::vector<Job>& jobs) {
    nlohmann::json list = nlohmann::json::array();
    for (const Job& job : jobs)
        if (!job.is<Job::Done>()) list.push_back(objectOf(job));
    return list;
}

} // namespace JobListing
