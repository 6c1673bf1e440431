#include "TrelkCore/Jobs/DropPlan.h"

#include "TrelkCore/Library/Sets.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace fs = std::filesystem;

namespace {

// The pieces that say something, joined with " + ".
std::string plus(const std::vector<std::string>& pieces) {
    std::vector<std::string> said;
    std::ranges::copy_if(pieces, std::back_inserter(said), [](const std::string& piece) { return !piece.empty(); });
    return Text::joined(said, " + ");
}

size_t grouped(const std::map<std::string, std::vector<size_t>>& groups) {
    size_t total = 0;
    for (const auto& [set, positions] : groups) total += positions.size();
    return total;
}

} // namespace

DropPlan::DropPlan(const std::vector<fs::path>& dropped) : files(ordered(dropped)) {
    const std::vector<std::string> videos = videoNames();
    const auto groups = SetName::groups(videos);
    if (videos.size() < 2) {
        grouping = Grouping::separate;
        choices = {Grouping::separate};
    } else if (groups.size() == 1 && groups.begin()->second.size() == videos.size()) {
        grouping = Grouping::oneCue;
        choices = {Grouping::oneCue, Grouping::separate};
    } else if (groups.empty()) {
        grouping = Grouping::separate;
        choices = {Grouping::oneCue, Grouping::separate};
    } else {
        grouping = Grouping::byName;
        choices = {Grouping::byName, Grouping::oneCue, Grouping::separate};
    }
}

std::vector<fs::path> DropPlan::ordered(const std::vector<fs::path>& urls) {
    std::vector<std::string> names;
    for (const fs::path& url : urls) names.push_back(url.filename().string());
    std::vector<fs::path> result;
    for (size_t i : SetName::order(names)) result.push_back(urls[i]);
    return result;
}

std::vector<std::string> DropPlan::names() const {
    std::vector<std::string> result;
    for (const fs::path& file : files) result.push_back(file.filename().string());
    return result;
}

std::vector<std::string> DropPlan::videoNames() const {
    std::vector<std::string> result;
    for (std::string& name : names())
        if (!MediaKinds::isStillName(name)) result.push_back(std::move(name));
    return result;
}

std::vector<std::string> DropPlan::labels() const { return SetName::labels(videoNames()); }

std::string DropPlan::setName() const { return SetName::common(videoNames()); }

std::string DropPlan::summary() const {
    const std::vector<std::string> videos = videoNames();
    const int64_t v = int64_t(videos.size());
    std::vector<std::string> list{count(int64_t(files.size()) - v, "still")};
    if (grouping == Grouping::byName) {
        const auto groups = SetName::groups(videos);
        list.push_back(count(int64_t(groups.size()), "set"));
        list.push_back(count(v - int64_t(grouped(groups)), "video"));
    } else if (grouping == Grouping::oneCue && v >= 2) {
        list.push_back("1 set (" + Text::joined(labels(), " · ") + ")");
    } else {
        list.push_back(count(v, "video"));
    }
    return std::to_string(files.size()) + (files.size() == 1 ? " file" : " files") + " → " + plus(list);
}

std::string DropPlan::things(const std::vector<std::string>& names) {
    const auto stills = std::ranges::count_if(names, MediaKinds::isStillName);
    return plus({count(int64_t(names.size()) - stills, "video"), count(stills, "still")});
}

std::string DropPlan::count(int64_t n, std::string_view word) {
    if (n == 0) return {};
    return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

void DropPlan::move(int64_t from, int64_t to) {
    if (from < 0 || from >= int64_t(files.size())) return;
    fs::path file = std::move(files[size_t(from)]);
    files.erase(files.begin() + from);
    files.insert(files.begin() + std::clamp<int64_t>(to, 0, int64_t(files.size())), std::move(file));
}
