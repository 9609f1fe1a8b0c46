// The models behind the Signature Search screen's two result lists: the carved files
// (`ResultList`: one row per file, its name with the desktop's icon for its extension) and the
// per-type summary (`FileTypesTable`: "File Types", "No. of files found" and the hidden
// columns). Both are views over plain vectors filled in batches on the UI thread, so a long
// search costs one small record per file and no widget per row.
#pragma once

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <span>
#include <unordered_map>
#include <vector>

#include "carving/carved_output.h"

namespace kfr::ui {

// One icon per extension, asked of the desktop once and then kept: a row's "ICON_INDX" is the
// index of its icon here.
class TypeIcons {
public:
    int indexFor(const QString& fileName);
    QIcon icon(int index) const;

private:
    QHash<QString, int> m_byExtension;
    std::vector<QIcon> m_icons;
};

class CarvedListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CarvedListModel(TypeIcons& icons, QObject* parent = nullptr);

    void clear();
    void append(std::span<const carving::CarvedResult> files);
    const carving::CarvedResult* file(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        carving::CarvedResult file;
        int icon = -1;
    };
    TypeIcons& m_icons;
    std::vector<Row> m_rows;
};

class FileTypesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FileTypes, FilesFound, NameOfFile, PathOfFileSaved, LastFileNo, Count, FolderName, IconIndex, kColumns };

    explicit FileTypesModel(TypeIcons& icons, QObject* parent = nullptr);

    void clear();
    void setRows(const std::vector<carving::FileTypeRow>& rows);
    // A row as the search left it after listing a file; a type without a row is left alone.
    void update(const carving::FileTypeRow& row);
    const carving::FileTypeRow* row(const QString& fileType) const;
    int rowCountOf() const { return static_cast<int>(m_rows.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    TypeIcons& m_icons;
    std::vector<carving::FileTypeRow> m_rows;
    std::unordered_map<std::string, int> m_byKey;  // upper-case key to row
};

}  // namespace kfr::ui
