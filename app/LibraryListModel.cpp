#include "app/LibraryListModel.h"

#include <algorithm>

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

} // namespace

void LibraryListModel::update(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed) {
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
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == next[i]) continue;
        list[i] = std::move(next[i]);
        emit dataChanged(index(int(i)), index(int(i)));
    }
}

int LibraryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(list.size());
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= list.size()) return {};
    const Row& shown = list[size_t(index.row())];
    if (role == TagRole) return text(shown.tag);
    if (const auto* group = std::get_if<JobGroup>(&shown.item)) {
        if (role == Qt::DisplayRole) return text(group->title());
        if (role == DetailRole) return text(group->status());
        if (role == StoppedRole) return group->stopped();
        return {};
    }
    const Asset& asset = std::get<Asset>(shown.item);
    if (role == Qt::DisplayRole) return text(asset.name);
    if (role == DetailRole) return text(LibraryRows::detail(asset, shown.info));
    if (role == Qt::ToolTipRole) return text(LibraryRows::help(asset, shown.info));
    return {};
}
