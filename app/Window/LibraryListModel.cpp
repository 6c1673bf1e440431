#include "app/Window/LibraryListModel.h"

#include "TrelkCore/MediaKinds.h"

#include <QMimeData>

#include <algorithm>

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

LibraryListModel::RowIcon jobIcon(const JobGroup& group) {
    using RowIcon = LibraryListModel::RowIcon;
    if (group.isSet()) return RowIcon::set;
    return !group.jobs.empty() && MediaKinds::isStillName(group.jobs.front().name()) ? RowIcon::still : RowIcon::video;
}

LibraryListModel::RowIcon assetIcon(const Asset& asset) {
    using RowIcon = LibraryListModel::RowIcon;
    if (asset.isSet()) return RowIcon::set;
    return asset.isStill() ? RowIcon::still : RowIcon::none;
}

} // namespace

void LibraryListModel::update(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed,
                              TimeLeft::Clock::time_point now) {
    timeLeft.see(rows.groups, now);
    std::vector<Row> next;
    for (const JobGroup& group : rows.groups) next.push_back({LibraryRows::tag(group), group, std::nullopt});
    for (const Asset& asset : rows.shown) {
        const auto info = probed.find(asset.id);
        next.push_back({LibraryRows::tag(asset), asset, info == probed.end() ? std::nullopt : std::optional(info->second)});
    }
    const bool sameRows = std::ranges::equal(next, list, {}, &Row::tag, &Row::tag);
    if (!sameRows) {
        beginResetModel();
        list = std::move(next);
        endResetModel();
        return;
    }
    for (size_t i = 0; i < list.size(); ++i) replace(i, std::move(next[i]));
}

void LibraryListModel::updateJobs(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed,
                                  TimeLeft::Clock::time_point now) {
    const auto firstAsset = std::ranges::find_if(list, [](const Row& row) { return std::holds_alternative<Asset>(row.item); });
    const auto jobRows = std::ranges::subrange(list.begin(), firstAsset);
    const auto tagOf = [](const JobGroup& group) { return LibraryRows::tag(group); };
    if (!std::ranges::equal(rows.groups, jobRows, {}, tagOf, &Row::tag)) return update(rows, probed, now);
    timeLeft.see(rows.groups, now);
    for (size_t i = 0; i < rows.groups.size(); ++i) replace(i, {tagOf(rows.groups[i]), rows.groups[i], std::nullopt});
}

void LibraryListModel::replace(size_t at, Row next) {
    if (list[at] == next) return;
    list[at] = std::move(next);
    emit dataChanged(index(int(at)), index(int(at)));
}

int LibraryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(list.size());
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= list.size()) return {};
    const Row& shown = list[size_t(index.row())];
    if (role == TagRole) return text(shown.tag);
    if (const auto* group = std::get_if<JobGroup>(&shown.item)) return jobData(*group, role);
    return assetData(shown, role);
}

QVariant LibraryListModel::jobData(const JobGroup& group, int role) const {
    switch (role) {
    case Qt::DisplayRole: return text(group.title());
    case Qt::ToolTipRole: { // a making row's time left; a stopped row's status, whole where it may be cut short
        if (const auto left = timeLeft.of(group.id)) return text(*left);
        return group.stopped() ? QVariant(text(group.status())) : QVariant();
    }
    case DetailRole: return text(group.status());
    case StoppedRole: return group.stopped();
    case ActiveRole: return group.active();
    case KindRole: return int(Kind::job);
    case IconRole: return int(jobIcon(group));
    case PartsRole: {
        if (!group.isSet()) return {};
        QStringList parts;
        for (const Job& job : group.jobs) parts << text(group.label(job)) << text(JobGroup::state(job));
        return parts;
    }
    default: return {};
    }
}

QVariant LibraryListModel::assetData(const Row& shown, int role) const {
    const Asset& asset = std::get<Asset>(shown.item);
    switch (role) {
    case Qt::DisplayRole: return text(asset.name);
    case Qt::ToolTipRole: return text(LibraryRows::help(asset, shown.info));
    case DetailRole: return text(LibraryRows::detail(asset, shown.info));
    case KindRole: return int(Kind::asset);
    case IconRole: return int(assetIcon(asset));
    default: return {};
    }
}

Qt::ItemFlags LibraryListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractListModel::flags(index);
    if (index.isValid() && std::holds_alternative<Asset>(row(index.row()).item)) flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList LibraryListModel::mimeTypes() const { return {"text/plain"}; }

// Job rows in a drag carry nothing: only assets go onto a wall.
QMimeData* LibraryListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& index : indexes) rows.push_back(index.row());
    std::ranges::sort(rows); // in the order shown, whatever the order of selecting
    QStringList ids;
    for (int at : rows)
        if (const auto* asset = std::get_if<Asset>(&row(at).item)) ids << text(asset->id);
    if (ids.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setText(ids.join('\n'));
    return data;
}
