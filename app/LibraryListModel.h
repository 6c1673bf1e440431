#pragma once
#include "app/LibraryRows.h"

#include <QAbstractListModel>

#include <map>
#include <variant>

// The library list for a view: job rows, then asset rows. A refresh that keeps the same rows in
// the same order only tells the view which rows changed, so a job's progress redraws one row.
class LibraryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { TagRole = Qt::UserRole, DetailRole, StoppedRole };
    struct Row {
        std::string tag;
        std::variant<JobGroup, Asset> item;
        std::optional<MasterInfo> info; // of a plain video, once probed
        bool operator==(const Row&) const = default;
    };

    void update(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed);
    const Row& row(int index) const { return list.at(size_t(index)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<Row> list;
};
