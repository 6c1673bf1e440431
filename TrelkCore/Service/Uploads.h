#pragma once
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/Upload.h"
#include "TrelkCore/Service/UploadRefusal.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The uploads in progress and the batches waiting for their last files. Finished files land in
// the drop folder under their own names and go to the job queue; a batch goes in one call, so
// that the queue can group its files into a set.
class Uploads {
public:
    using Time = std::chrono::system_clock::time_point;
    // The files for the queue; a job id, or none, for each.
    using Queue = std::function<std::vector<std::optional<std::string>>(const std::vector<std::filesystem::path>&)>;
    using FreeSpace = std::function<std::optional<int64_t>(const std::filesystem::path&)>;

    static constexpr int64_t maxBytes = 274'877'906'944;
    static constexpr int64_t minBytes = 64;
    static constexpr int64_t spare = 1'073'741'824;
    static constexpr std::string_view notMedia = "not a video or still · MOV, MP4, MXF, MKV, AVI, PNG, JPEG, TIFF…";
    static constexpr std::string_view tempPrefix = ".upload-";
    static constexpr std::string_view dropUnwritable = "couldn't write to Drop here";

    struct Batch {
        int of;
        std::vector<std::pair<std::filesystem::path, std::string>> files; // (temp, name), in arrival order
        Time at;                                                           // the last arrival
    };

    Uploads(std::filesystem::path drop, Queue queue);

    // The size and name rules alone.
    std::optional<UploadRefusal> check(const std::optional<std::string>& name, std::optional<int64_t> bytes) const;
    // Takes up an upload for a POST whose head has arrived, by the checks alone: nothing is
    // created on disk until Upload::open. Throws UploadRefusal.
    std::shared_ptr<Upload> begin(const HTTPRequest& request);
    // The reply's object once every byte is in; the file is in the drop folder and queued, or
    // parked with its batch. Throws UploadRefusal.
    nlohmann::json finish(Upload& upload);
    // Drops the upload and its temporary file.
    void abort(Upload& upload);
    // Hands over batches that waited too long and removes temporary files nobody will finish.
    void sweep(Time now);

    static std::optional<std::string> cleanName(std::string_view name);
    static bool looksRight(std::string_view start, std::string_view name);
    static bool looksLikeMovie(std::string_view start);

    FreeSpace freeSpace;
    double batchWait = 1800.0;

private:
    using Arrivals = std::vector<std::pair<std::filesystem::path, std::string>>; // (temp, name)
    // The final names and the job ids of the files handed to the queue.
    std::pair<std::vector<std::string>, std::vector<std::string>> handOver(const Arrivals& files);
    std::optional<std::filesystem::path> moveIn(const std::filesystem::path& temp, const std::string& name);
    // Closes the file and takes the upload out of the active ones.
    void forget(Upload& upload);

    const std::filesystem::path drop;
    const Queue queue;
    std::mutex lock; // guards the two below
    std::map<std::string, std::shared_ptr<Upload>> active;
    std::map<std::string, Batch> batches; // by the page's token and the batch key
};
