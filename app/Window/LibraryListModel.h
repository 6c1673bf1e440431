#pragma once
#include "app/Window/LibraryRows.h"
#include "app/Window/TimeLeft.h"

#include <QAbstractListModel>

#include <map>
#include <variant>

// The library list for a view: job rows, then asset rows. A refresh that keeps the same rows in
// the same order only tells the view which rows changed, so a job's progress redraws one row.
// Asset rows drag as their ids, a line each.
class LibraryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        TagRole = Qt::UserRole,
        DetailRole,  // a job's status, an asset's detail
        StoppedRole,
        ActiveRole,
        KindRole,    // a Kind
        IconRole,    // a RowIcon
        PartsRole,   // of a set's job row: a QStringList of label and state per part
    };
    enum class Kind { job, asset };
    enum class RowIcon { none, set, still, video };
    struct Row {
        std::string tag;
        std::variant<JobGroup, Asset> item;
        std::optional<MasterInfo> info; // of a plain video, once probed
        bool operator==(const Row&) const = default;
    };

    void update(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed,
                TimeLeft::Clock::time_point now = TimeLeft::Clock::now());
    // The same, for rows whose assets are known to be as they were: only the job rows are
    // compared, which keeps a job's progress cheap in a long library.
    void updateJobs(const LibraryRows& rows, const std::map<std::string, MasterInfo>& probed,
                    TimeLeft::Clock::time_point now = TimeLeft::Clock::now());
    const Row& row(int index) const { return list.at(size_t(index)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

private:
    QVariant jobData(const JobGroup& group, int role) const;
    QVariant assetData(const Row& shown, int role) const;
    // The row at index becomes next; the view hears of it when it differs.
    void replace(size_t index, Row next);

    std::vector<Row> list;
    TimeLeft timeLeft;
};
