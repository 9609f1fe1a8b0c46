// The item models behind the results tree and the item list. The tree holds one row per found
// folder and grows in batches while a scan places folders; once the scan's results are in, its
// check boxes work on the session's TreeChecks. The list holds the rows of one folder, appended
// in batches as the listing reads them. Both are views over plain vectors, so 100,000 folders or
// 50,000 files cost one small record each and no widget per row.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <array>
#include <memory>
#include <span>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "recovery/results_tree.h"

namespace kfr::session {
struct ScanResults;
}

namespace kfr::ui {

class ResultsTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit ResultsTreeModel(QObject* parent = nullptr);

    void clear();
    // Folders a running scan placed; their parents are known already, or are the top item.
    void addPlaced(std::span<const recovery::PlacedFolder> folders);
    void rename(std::span<const recovery::FolderRename> renames);
    // The finished scan's (or the loaded log's) tree: rebuilt from it, check boxes on.
    void setResults(std::shared_ptr<const session::ScanResults> results);
    const session::ScanResults* results() const { return m_results.get(); }

    recovery::ItemId topItem() const { return m_top.empty() ? recovery::kNoItem : m_top.front(); }
    recovery::ItemId itemOf(const QModelIndex& index) const;
    QModelIndex indexOf(recovery::ItemId item) const;
    QString nameOf(recovery::ItemId item) const;
    std::size_t folderCount() const { return m_count; }

    // The check boxes: a click toggles the item and settles its ancestors.
    const recovery::TreeChecks& checks() const { return m_checks; }
    void toggleCheck(recovery::ItemId item);
    recovery::CheckState checkState(recovery::ItemId item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Node {
        recovery::ItemId parent = recovery::kNoItem;
        int row = -1;  // -1: not in the tree (yet)
        QString name;
        bool deleted = false;
        std::vector<recovery::ItemId> children;
    };
    Node& ensure(recovery::ItemId item);
    const std::vector<recovery::ItemId>& childrenOf(recovery::ItemId parent) const;
    void appendChild(recovery::ItemId parent, recovery::ItemId item);
    void notifySubtreeAndAncestors(recovery::ItemId item);

    std::vector<Node> m_nodes;  // by item id; slot 0 unused
    std::vector<recovery::ItemId> m_top;
    std::size_t m_count = 0;
    std::shared_ptr<const session::ScanResults> m_results;
    recovery::TreeChecks m_checks;
    QIcon m_topIcon;
    QIcon m_folderIcon;
};

// The columns of the item list and how each sorts.
struct ListColumns {
    QStringList names;
    bool deep = false;
    static ListColumns basic();
    static ListColumns deepSearch();
};

class ItemListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ItemListModel(QObject* parent = nullptr);

    void setColumns(ListColumns columns);
    void clear();
    // Rows of the folder being listed; deepTop: the Deep screen's top item of a FAT scan, whose
    // files say which volume they belong to.
    void append(std::span<const recovery::ItemRow> rows, bool deepTop);
    const recovery::ItemRow& row(int index) const { return m_rows.at(static_cast<std::size_t>(index)).item; }
    int size() const { return static_cast<int>(m_rows.size()); }
    QString text(int row, int column) const;
    // The list's own sort: a numeric column by its leading digits as a signed 32-bit number, a
    // text column case-insensitively; equal rows keep their order.
    void sortRows(int column, bool numeric, bool descending);
    static bool numericColumn(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    struct Row {
        recovery::ItemRow item;
        std::array<QString, 10> texts;
    };
    QIcon iconFor(const recovery::ItemRow& row) const;

    ListColumns m_columns;
    std::vector<Row> m_rows;
    std::string m_today;
    mutable QHash<QString, QIcon> m_icons;  // by extension
};

}  // namespace kfr::ui
