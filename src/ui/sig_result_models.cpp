#include "ui/sig_result_models.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QStyle>

#include "texts/sig_screen_texts.h"
#include "ui/qt_text.h"

namespace kfr::ui {

namespace {

std::string upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

}  // namespace

int TypeIcons::indexFor(const QString& fileName)
{
    const QString extension = fileName.section('.', -1).toUpper();
    if (const auto found = m_byExtension.constFind(extension); found != m_byExtension.constEnd()) return *found;
    // The desktop's icon for the type when its theme has one, else a plain file. Only the name
    // is asked about, so nothing needs to exist yet.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    m_icons.push_back(QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback)));
    const int index = static_cast<int>(m_icons.size()) - 1;
    m_byExtension.insert(extension, index);
    return index;
}

QIcon TypeIcons::icon(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < m_icons.size() ? m_icons[static_cast<std::size_t>(index)]
                                                                           : QIcon();
}

CarvedListModel::CarvedListModel(TypeIcons& icons, QObject* parent) : QAbstractListModel(parent), m_icons(icons) {}

void CarvedListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void CarvedListModel::append(std::span<const carving::CarvedResult> files)
{
    if (files.empty()) return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(files.size()) - 1);
    for (const auto& f : files) m_rows.push_back({f, m_icons.indexFor(qs(f.name))});
    endInsertRows();
}

const carving::CarvedResult* CarvedListModel::file(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < m_rows.size() ? &m_rows[static_cast<std::size_t>(row)].file
                                                                      : nullptr;
}

int CarvedListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant CarvedListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size()) return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return qs(row.file.name);
    case Qt::DecorationRole: return m_icons.icon(row.icon);
    case Qt::ToolTipRole: return qs(row.file.savedPath);
    default: return {};
    }
}

FileTypesModel::FileTypesModel(TypeIcons& icons, QObject* parent) : QAbstractTableModel(parent), m_icons(icons) {}

void FileTypesModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_byKey.clear();
    endResetModel();
}

void FileTypesModel::setRows(const std::vector<carving::FileTypeRow>& rows)
{
    beginResetModel();
    m_rows = rows;
    m_byKey.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) m_byKey.emplace(upper(m_rows[i].fileTypes), static_cast<int>(i));
    endResetModel();
}

void FileTypesModel::update(const carving::FileTypeRow& row)
{
    const auto found = m_byKey.find(upper(row.fileTypes));
    if (found == m_byKey.end()) return;
    carving::FileTypeRow& mine = m_rows[static_cast<std::size_t>(found->second)];
    // The icon is the screen's: asked for once, with the type's first file, and kept.
    std::string icon = mine.iconIndex;
    mine = row;
    if (icon.empty() && !row.nameOfFile.empty()) icon = std::to_string(m_icons.indexFor(qs(row.nameOfFile)));
    mine.iconIndex = icon;
    Q_EMIT dataChanged(index(found->second, 0), index(found->second, kColumns - 1));
}

const carving::FileTypeRow* FileTypesModel::row(const QString& fileType) const
{
    const auto found = m_byKey.find(upper(fileType.toStdString()));
    return found == m_byKey.end() ? nullptr : &m_rows[static_cast<std::size_t>(found->second)];
}

int FileTypesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileTypesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant FileTypesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size()) return {};
    const carving::FileTypeRow& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == FileTypes && !row.iconIndex.empty())
        return m_icons.icon(std::stoi(row.iconIndex));
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case FileTypes: return qs(row.fileTypes);
    case FilesFound: return QString::number(row.filesFound);
    case NameOfFile: return qs(row.nameOfFile);
    case PathOfFileSaved: return qs(row.pathOfFileSaved);
    case LastFileNo: return QString::number(row.lastFileNo);
    case Count: return QString::number(row.count);
    case FolderName: return qs(row.folderName);
    case IconIndex: return qs(row.iconIndex);
    default: return {};
    }
}

QVariant FileTypesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const names[kColumns] = {texts::kFileTypesColumn,   texts::kFilesFoundColumn,
                                                texts::kNameOfFileColumn,  texts::kPathOfFileSavedColumn,
                                                texts::kLastFileNoColumn,  texts::kCountColumn,
                                                texts::kFolderNameColumn,  texts::kIconIndexColumn};
    return section >= 0 && section < kColumns ? qs(names[section]) : QVariant();
}

}  // namespace kfr::ui
