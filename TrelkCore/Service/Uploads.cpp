#include "TrelkCore/Service/Uploads.h"

#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/FileMoves.h"
#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr auto staleAfter = std::chrono::hours(1);

bool goesWithout(const HTTPRequest& request) {
    std::optional<std::string> encoding = request.header("transfer-encoding");
    return encoding && Text::lowercased(*encoding) != "identity";
}

std::optional<std::string> batchKey(const HTTPRequest& request) {
    std::optional<std::string> key = request.parameter("set");
    if (!key || key->empty() || key->size() > 64) return std::nullopt;
    const bool plain = std::ranges::all_of(*key, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
    return plain ? key : std::nullopt;
}

int batchSize(const HTTPRequest& request) {
    std::optional<std::string> text = request.parameter("of");
    std::optional<int64_t> of = text ? Text::parseInteger(*text) : std::nullopt;
    if (!of || *of < 2) return 1;
    return int(std::min<int64_t>(*of, 16));
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace

Uploads::Uploads(fs::path drop, Queue queue) : freeSpace(Files::freeSpace), drop(std::move(drop)), queue(std::move(queue)) {}

std::shared_ptr<Upload> Uploads::begin(const HTTPRequest& request) {
    if (goesWithout(request)) throw UploadRefusal(411, "send the file with its size");
    const std::optional<int64_t> bytes = request.contentLength();
    const std::optional<std::string> asked = request.decodedParameter("name");
    if (std::optional<UploadRefusal> refusal = check(asked, bytes)) throw *refusal;
    const std::string name = *cleanName(*asked);
    const std::string id = Crypto::randomHex(4);
    auto upload = std::make_shared<Upload>(id, name, *bytes, batchKey(request), batchSize(request),
                                           drop / (std::string(tempPrefix) + id + "-" + name));
    upload->page = request.parameter("t").value_or("");
    std::lock_guard guard(lock);
    active[id] = upload;
    return upload;
}

nlohmann::json Uploads::finish(Upload& upload) {
    forget(upload);
    if (!upload.complete()) {
        removeQuietly(upload.temp);
        throw UploadRefusal(400, "the file didn't all arrive");
    }
    Arrivals files{{upload.temp, upload.name}};
    if (upload.set && upload.of > 1) {
        std::lock_guard guard(lock);
        // Another page's parts under the same key make a batch of their own.
        auto [entry, created] = batches.try_emplace(upload.page + "\n" + *upload.set, Batch{upload.of, {}, {}});
        Batch& batch = entry->second;
        batch.files.emplace_back(upload.temp, upload.name);
        batch.at = std::chrono::system_clock::now();
        if (int(batch.files.size()) < batch.of)
            return nlohmann::json{{"name", upload.name}, {"ok", true}, {"waiting", batch.of - int(batch.files.size())}};
        files = std::move(batch.files);
        batches.erase(entry);
    }
    auto [names, jobs] = handOver(files);
    // "Drop here" went while the body arrived: nothing was kept, and the page must not think it was.
    if (names.empty()) throw UploadRefusal(500, std::string(dropUnwritable));
    return nlohmann::json{{"jobs", jobs}, {"name", names.back()}, {"names", names}, {"ok", true}};
}

void Uploads::abort(Upload& upload) {
    forget(upload);
    // A file of that name it could not create is someone else's.
    if (upload.created) removeQuietly(upload.temp);
}

void Uploads::forget(Upload& upload) {
    upload.handle.reset();
    std::lock_guard guard(lock);
    active.erase(upload.id);
}

void Uploads::sweep(Time now) {
    std::vector<Arrivals> due;
    std::set<std::string> kept;
    {
        std::lock_guard guard(lock);
        std::erase_if(batches, [&](auto& entry) {
            if (now - entry.second.at <= std::chrono::duration<double>(batchWait)) return false;
            due.push_back(std::move(entry.second.files));
            return true;
        });
        for (const auto& [id, upload] : active) kept.insert(upload->temp.filename());
        for (const auto& [key, batch] : batches)
            for (const auto& [temp, name] : batch.files) kept.insert(temp.filename());
    }
    // Incomplete sets: their files are made as they are.
    for (const Arrivals& files : due) handOver(files);

    std::error_code failed;
    for (const fs::directory_entry& entry : fs::directory_iterator(drop, failed)) {
        const std::string name = entry.path().filename();
        if (!name.starts_with(tempPrefix) || kept.contains(name)) continue;
        std::optional<Files::Facts> facts = Files::facts(entry.path());
        if (facts && now - facts->modified > staleAfter) removeQuietly(entry.path());
    }
}

std::pair<std::vector<std::string>, std::vector<std::string>> Uploads::handOver(const Arrivals& files) {
    std::vector<fs::path> moved;
    std::vector<std::string> names;
    for (const auto& [temp, name] : files) {
        if (std::optional<fs::path> placed = moveIn(temp, name)) {
            names.push_back(placed->filename());
            moved.push_back(std::move(*placed));
        }
    }
    std::vector<std::string> jobs;
    if (moved.empty()) return {};
    for (const std::optional<std::string>& job : queue(moved))
        if (job) jobs.push_back(*job);
    return {std::move(names), std::move(jobs)};
}

// Never over a file that is there: a name taken, even by one that lands meanwhile, moves on to
// the next number.
std::optional<fs::path> Uploads::moveIn(const fs::path& temp, const std::string& name) {
    for (int n = 1;; ++n) {
        fs::path target = drop / Files::numbered(name, n);
        try {
            Files::moveNoReplace(temp, target);
            return target;
        } catch (const std::system_error& failure) {
            if (failure.code() != std::errc::file_exists) return std::nullopt;
        }
    }
}
