#include "ui/results_models.h"

#include <QApplication>
#include <QFileInfo>
#include <QPalette>
#include <QMimeDatabase>
#include <QStyle>
#include <algorithm>
#include <numeric>

#include "session/recovery_session.h"
#include "texts/list_columns.h"
#include "ui/qt_text.h"

namespace kfr::ui {

using recovery::ItemId;
using recovery::kNoItem;

ResultsTreeModel::ResultsTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    m_topIcon = QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon);
    m_folderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    clear();
}

void ResultsTreeModel::clear()
{
    beginResetModel();
    m_nodes.assign(1, Node{});
    m_top.clear();
    m_count = 0;
    m_results.reset();
    m_checks.clear();
    endResetModel();
}

ResultsTreeModel::Node& ResultsTreeModel::ensure(ItemId item)
{
    if (item >= m_nodes.size()) m_nodes.resize(static_cast<std::size_t>(item) + 1);
    return m_nodes[item];
}

const std::vector<ItemId>& ResultsTreeModel::childrenOf(ItemId parent) const
{
    return parent == kNoItem ? m_top : m_nodes[parent].children;
}

void ResultsTreeModel::appendChild(ItemId parent, ItemId item)
{
    Node& node = ensure(item);
    if (node.row >= 0) return;  // placed before (a folder is placed once)
    if (parent != kNoItem && ensure(parent).row < 0) {
        // Parents are placed before their children; the one exception is the top item, which no
        // event announces.
        appendChild(kNoItem, parent);
        m_nodes[parent].name = qs(recovery::kRootName);
    }
    auto& siblings = parent == kNoItem ? m_top : m_nodes[parent].children;
    const int row = static_cast<int>(siblings.size());
    beginInsertRows(parent == kNoItem ? QModelIndex() : indexOf(parent), row, row);
    siblings.push_back(item);
    Node& placed = m_nodes[item];
    placed.parent = parent;
    placed.row = row;
    ++m_count;
    endInsertRows();
}

void ResultsTreeModel::addPlaced(std::span<const recovery::PlacedFolder> folders)
{
    for (const auto& f : folders) {
        if (f.item == kNoItem) continue;
        Node& node = ensure(f.item);
        node.name = qs(f.name);
        node.deleted = f.deleted;
        appendChild(f.parentItem, f.item);
    }
}

void ResultsTreeModel::rename(std::span<const recovery::FolderRename> renames)
{
    for (const auto& r : renames) {
        if (r.item >= m_nodes.size() || m_nodes[r.item].row < 0) continue;
        m_nodes[r.item].name = qs(r.name);
        m_nodes[r.item].deleted = m_nodes[r.item].deleted || r.deleted;
        const QModelIndex index = indexOf(r.item);
        Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::ForegroundRole});
    }
}

void ResultsTreeModel::setResults(std::shared_ptr<const session::ScanResults> results)
{
    beginResetModel();
    m_nodes.assign(1, Node{});
    m_top.clear();
    m_count = 0;
    m_checks.clear();
    m_results = std::move(results);
    if (m_results) {
        const recovery::ResultTree& tree = m_results->scan.folders.tree;
        m_nodes.resize(tree.itemCount() + 1);
        for (const ItemId id : tree.preOrder()) {
            const recovery::TreeItem& item = tree.item(id);
            Node& node = m_nodes[id];
            node.name = qs(item.name);
            node.parent = item.parent;
            if (const recovery::FolderNode* folder = m_results->scan.folders.nodeOf(id)) node.deleted = folder->deleted;
            auto& siblings = item.parent == kNoItem ? m_top : m_nodes[item.parent].children;
            node.row = static_cast<int>(siblings.size());
            siblings.push_back(id);
            ++m_count;
        }
    }
    endResetModel();
}

ItemId ResultsTreeModel::itemOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<ItemId>(index.internalId()) : kNoItem;
}

QModelIndex ResultsTreeModel::indexOf(ItemId item) const
{
    if (item == kNoItem || item >= m_nodes.size() || m_nodes[item].row < 0) return {};
    return createIndex(m_nodes[item].row, 0, static_cast<quintptr>(item));
}

QString ResultsTreeModel::nameOf(ItemId item) const
{
    return item < m_nodes.size() ? m_nodes[item].name : QString();
}

recovery::CheckState ResultsTreeModel::checkState(ItemId item) const
{
    return m_checks.state(item);
}

void ResultsTreeModel::toggleCheck(ItemId item)
{
    if (!m_results || item == kNoItem) return;
    m_checks.toggleCheck(m_results->scan.folders.tree, item);
    notifySubtreeAndAncestors(item);
}

void ResultsTreeModel::notifySubtreeAndAncestors(ItemId item)
{
    const QVector<int> roles{Qt::CheckStateRole};
    const QModelIndex self = indexOf(item);
    Q_EMIT dataChanged(self, self, roles);
    // One signal per parent whose children changed, not one per folder.
    std::vector<ItemId> pending{item};
    while (!pending.empty()) {
        const ItemId id = pending.back();
        pending.pop_back();
        const auto& children = m_nodes[id].children;
        if (children.empty()) continue;
        Q_EMIT dataChanged(indexOf(children.front()), indexOf(children.back()), roles);
        pending.insert(pending.end(), children.begin(), children.end());
    }
    for (ItemId up = m_nodes[item].parent; up != kNoItem; up = m_nodes[up].parent) {
        const QModelIndex index = indexOf(up);
        Q_EMIT dataChanged(index, index, roles);
    }
}

QModelIndex ResultsTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0) return {};
    const ItemId parentItem = itemOf(parent);
    if (parent.isValid() && parentItem >= m_nodes.size()) return {};
    const auto& siblings = childrenOf(parentItem);
    if (static_cast<std::size_t>(row) >= siblings.size()) return {};
    return createIndex(row, 0, static_cast<quintptr>(siblings[static_cast<std::size_t>(row)]));
}

QModelIndex ResultsTreeModel::parent(const QModelIndex& child) const
{
    const ItemId item = itemOf(child);
    if (item == kNoItem || item >= m_nodes.size()) return {};
    return indexOf(m_nodes[item].parent);
}

int ResultsTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    const ItemId item = itemOf(parent);
    if (parent.isValid() && item >= m_nodes.size()) return 0;
    return static_cast<int>(childrenOf(item).size());
}

int ResultsTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant ResultsTreeModel::data(const QModelIndex& index, int role) const
{
    const ItemId item = itemOf(index);
    if (item == kNoItem || item >= m_nodes.size()) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return m_nodes[item].name;
    case Qt::DecorationRole: return m_nodes[item].parent == kNoItem ? m_topIcon : m_folderIcon;
    // Deleted folders stand out from the live ones, as deleted files do in the list.
    case Qt::ForegroundRole:
        if (m_nodes[item].deleted) return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::CheckStateRole:
        if (!m_results) return {};
        switch (m_checks.state(item)) {
        case recovery::CheckState::Checked: return Qt::Checked;
        case recovery::CheckState::Partial: return Qt::PartiallyChecked;
        case recovery::CheckState::Unchecked: return Qt::Unchecked;
        }
        return Qt::Unchecked;
    default: return {};
    }
}

bool ResultsTreeModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    if (role != Qt::CheckStateRole || !m_results) return false;
    toggleCheck(itemOf(index));
    return true;
}

Qt::ItemFlags ResultsTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Ticking means something only once the results are in: a running scan's tree still grows.
    if (m_results) f |= Qt::ItemIsUserCheckable;
    return f;
}

// --- The item list ---

ListColumns ListColumns::basic()
{
    ListColumns c;
    for (const char* name : texts::kBasicListColumns) c.names << qs(name);
    return c;
}

ListColumns ListColumns::deepSearch()
{
    ListColumns c;
    for (const char* name : texts::kDeepListColumns) c.names << qs(name);
    c.deep = true;
    return c;
}

ItemListModel::ItemListModel(QObject* parent) : QAbstractTableModel(parent), m_columns(ListColumns::basic())
{
    m_today = texts::todayDateText();
}

void ItemListModel::setColumns(ListColumns columns)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_rows.clear();
    endResetModel();
}

void ItemListModel::clear()
{
    if (m_rows.empty()) return;
    beginResetModel();
    m_rows.clear();
    // A listing that runs past midnight keeps one date for the orphan folder.
    m_today = texts::todayDateText();
    endResetModel();
}

void ItemListModel::append(std::span<const recovery::ItemRow> rows, bool deepTop)
{
    if (rows.empty()) return;
    const int first = size();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    for (const auto& item : rows) {
        Row row{item, {}};
        const auto texts = texts::listColumns(item, m_today);
        for (std::size_t c = 0; c < texts.size(); ++c) row.texts[c] = qs(texts[c]);
        if (m_columns.deep && deepTop && item.kind == recovery::RowKind::FatFile)
            row.texts[9] = QString::number(item.volume);
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

QString ItemListModel::text(int row, int column) const
{
    if (row < 0 || row >= size() || column < 0 || column >= 10) return {};
    return m_rows[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

bool ItemListModel::numericColumn(int column)
{
    return column == 2 || (column >= 5 && column <= 7) || column == 9;
}

namespace {

// The leading digits of a text as a signed 32-bit number (0 when there are none), as the list
// has always compared its numeric columns.
std::int32_t leadingNumber(const QString& text)
{
    std::int64_t value = 0;
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    for (; i < text.size() && text[i].isDigit(); ++i) {
        value = value * 10 + text[i].digitValue();
        if (value > 0xFFFFFFFFLL) value &= 0xFFFFFFFFLL;  // wraps like a 32-bit conversion
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

void ItemListModel::sortRows(int column, bool numeric, bool descending)
{
    if (column < 0 || column >= 10) return;
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    const auto col = static_cast<std::size_t>(column);
    if (numeric) {
        std::vector<std::int32_t> keys(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i) keys[i] = leadingNumber(m_rows[i].texts[col]);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return descending ? keys[a] > keys[b] : keys[a] < keys[b];
        });
    } else {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const int c = QString::compare(m_rows[a].texts[col], m_rows[b].texts[col], Qt::CaseInsensitive);
            return descending ? c > 0 : c < 0;
        });
    }
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRowOf(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[order[i]]));
    }
    m_rows = std::move(sorted);
    QModelIndexList after;
    for (const QModelIndex& index : before) after << createIndex(newRowOf[static_cast<std::size_t>(index.row())], index.column());
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged();
}

void ItemListModel::sort(int column, Qt::SortOrder order)
{
    sortRows(column, numericColumn(column), order == Qt::DescendingOrder);
}

int ItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : size();
}

int ItemListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.names.size());
}

QIcon ItemListModel::iconFor(const recovery::ItemRow& row) const
{
    if (row.kind == recovery::RowKind::Folder) return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    const QString extension = QFileInfo(qs(row.name)).suffix().toLower();
    auto found = m_icons.constFind(extension);
    if (found != m_icons.constEnd()) return *found;
    // The desktop's icon for the type when its theme has one, else a plain file.
    static const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile("x." + extension, QMimeDatabase::MatchExtension);
    const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    m_icons.insert(extension, icon);
    return icon;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= size()) return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return row.texts[static_cast<std::size_t>(index.column())];
    if (role == Qt::DecorationRole && index.column() == 0) return iconFor(row.item);
    if (role == Qt::ForegroundRole && row.item.deleted) return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    return {};
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.names.size())
        return m_columns.names[section];
    return {};
}

}  // namespace kfr::ui
