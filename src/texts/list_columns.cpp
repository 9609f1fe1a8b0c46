// Item-list column texts.
#include "texts/list_columns.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "recovery/dir_entry.h"
#include "recovery/file_types.h"
#include "recovery/folder_table.h"
#include "recovery/mft_record.h"

namespace kfr::texts {

using recovery::ItemRow;
using recovery::RowKind;
using recovery::RowTime;

namespace {

std::string dateText(const ItemRow& row, const std::string& today)
{
    switch (row.timeKind) {
    case RowTime::FatWords: return recovery::formatFatDate(row.fatDate);
    case RowTime::NtfsStamp: return recovery::formatNtfsDate(row.ntfsStamp);
    case RowTime::Today: return today;
    }
    return {};
}

std::string timeText(const ItemRow& row)
{
    if (row.timeKind == RowTime::NtfsStamp) return recovery::formatNtfsTime(row.ntfsStamp);
    return recovery::formatFatTime(row.fatTime);
}

}  // namespace

std::string typeText(const ItemRow& row)
{
    if (row.kind == RowKind::Folder) return recovery::kFolderType;
    if (row.kind == RowKind::VolumeLabel) return "Volume Label";
    // A named stream ("file.txt:extra") is described by its file's name.
    const std::string& name = row.name;
    const std::size_t fileName = row.streamName.empty() ? name.size() : name.size() - std::min(name.size(), row.streamName.size() + 1);
    return recovery::describeFileType(recovery::extensionOf(name.substr(0, fileName)));
}

std::array<std::string, 9> listColumns(const ItemRow& row, const std::string& today)
{
    switch (row.kind) {
    case RowKind::Folder:
        return {row.name, typeText(row), "0", dateText(row, today), timeText(row), std::to_string(row.firstCluster),
                std::to_string(row.parent), std::to_string(row.folderItem), ""};
    case RowKind::VolumeLabel:
        return {row.name, typeText(row), "", dateText(row, today), timeText(row), "", "", "", row.shortName};
    case RowKind::FatFile:
        return {row.name, typeText(row), std::to_string(row.size), dateText(row, today), timeText(row),
                std::to_string(row.firstCluster), "", "", row.shortName};
    case RowKind::NtfsFile:
        return {row.name, typeText(row), std::to_string(row.size), dateText(row, today), timeText(row),
                std::to_string(row.recordSector), std::to_string(row.parent), "0", ""};
    }
    return {};
}

std::string countsText(std::uint64_t folders, std::uint64_t files)
{
    return std::to_string(folders) + " Folders, " + std::to_string(files) + " Files";
}

std::string todayDateText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // Not strftime's %b: that follows the locale, and the list always shows JAN..DEC.
    return recovery::formatDayMonthYear(static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_mon + 1),
                                        local.tm_year + 1900);
}

std::string folderPathText(const recovery::ResultTree& tree, recovery::ItemId item)
{
    if (!tree.valid(item) || tree.item(item).parent == recovery::kNoItem) return recovery::kRootName;
    std::vector<const std::string*> names;
    for (recovery::ItemId cur = item; tree.valid(cur) && tree.item(cur).parent != recovery::kNoItem;
         cur = tree.item(cur).parent)
        names.push_back(&tree.item(cur).name);
    std::string text;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!text.empty() && text.back() != '\\') text += " \\";
        text += **it;
    }
    return text;
}

}  // namespace kfr::texts
