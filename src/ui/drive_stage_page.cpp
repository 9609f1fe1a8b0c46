#include "ui/drive_stage_page.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "storage/byte_size.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/sector_range_panel.h"
#include "ui/ui_texts.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

namespace {

constexpr int kIndexRole = Qt::UserRole;

QIcon iconOf(DriveItemKind kind)
{
    QStyle* style = QApplication::style();
    switch (kind) {
    case DriveItemKind::MyComputer: return style->standardIcon(QStyle::SP_ComputerIcon);
    case DriveItemKind::PhysicalDrives:
    case DriveItemKind::LogicalDrives: return style->standardIcon(QStyle::SP_DirIcon);
    case DriveItemKind::Disk: return style->standardIcon(QStyle::SP_DriveHDIcon);
    case DriveItemKind::Partition: return style->standardIcon(QStyle::SP_DriveFDIcon);
    case DriveItemKind::Drive: return style->standardIcon(QStyle::SP_DriveNetIcon);
    }
    return {};
}

}  // namespace

void CDriveStagePage::addInputRow(QWidget* row)
{
    auto* box = static_cast<QVBoxLayout*>(layout());
    box->insertWidget(box->indexOf(findChild<QLabel*>("selectDriveHint")), row);
}

CDriveStagePage::CDriveStagePage(const QString& rangeIntro, Dialogs& dialogs, QWidget* parent) : QWidget(parent)
{
    setObjectName("driveStagePage");
    auto* layout = new QVBoxLayout(this);

    auto* split = new QSplitter(Qt::Horizontal, this);
    m_tree = new QTreeWidget(split);
    m_tree->setObjectName("driveTree");
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_properties = new QTreeWidget(split);
    m_properties->setObjectName("propertyList");
    m_properties->setColumnCount(2);
    m_properties->setHeaderLabels({qs(texts::kPropertyNameColumn), qs(texts::kPropertyValueColumn)});
    m_properties->setRootIsDecorated(false);
    m_properties->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    if (!rangeIntro.isEmpty()) {
        m_range = new CSectorRangePanel(rangeIntro, dialogs, this);
        layout->addWidget(m_range);
    }

    auto* hint = new QLabel(qs(texts::kSelectDriveHint), this);
    hint->setObjectName("selectDriveHint");
    layout->addWidget(hint);

    auto* searchRow = new QHBoxLayout;
    m_searchLabel = new QLabel(qs(texts::kSearchingPartitionsText), this);
    m_searchProgress = new QProgressBar(this);
    m_searchProgress->setObjectName("partitionSearchProgress");
    m_stopSearch = plainButton(texts::kStopSearchingPartitionsButton, "stopSearchingPartitions", this);
    searchRow->addWidget(m_searchLabel);
    searchRow->addWidget(m_searchProgress, 1);
    searchRow->addWidget(m_stopSearch);
    layout->addLayout(searchRow);
    setPartitionSearchShown(false);

    auto* buttons = new QHBoxLayout;
    m_addImage = plainButton(kAddImageButton, "addImage", this);
    m_addImage->setToolTip(qs(kAddImageTooltip));
    m_refresh = plainButton(texts::kRefreshTreeButton, "refreshTree", this);
    m_searchMore = plainButton(texts::kSearchMorePartitionsButton, "searchMorePartitions", this);
    m_loadLog = plainButton(texts::kLoadLogButton, "loadLog", this);
    m_back = plainButton(texts::kBackButton, "back", this);
    m_next = plainButton(texts::kNextButton, "next", this);
    buttons->addWidget(m_addImage);
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_searchMore);
    buttons->addWidget(m_loadLog);
    buttons->addStretch();
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    layout->addLayout(buttons);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current) Q_EMIT itemSelected(current->data(0, kIndexRole).toInt());
    });
}

void CDriveStagePage::showTree(const DriveTree& tree)
{
    QSignalBlocker block(m_tree);
    m_tree->clear();
    std::vector<QTreeWidgetItem*> widgets(tree.items().size(), nullptr);
    for (std::size_t i = 0; i < tree.items().size(); ++i) {
        const DriveItem& item = tree.items()[i];
        QTreeWidgetItem* w = item.parent < 0 ? new QTreeWidgetItem(m_tree)
                                             : new QTreeWidgetItem(widgets[static_cast<std::size_t>(item.parent)]);
        w->setText(0, qs(item.text));
        w->setIcon(0, iconOf(item.kind));
        w->setData(0, kIndexRole, static_cast<int>(i));
        widgets[i] = w;
    }
    // "My Computer" and both branches open, as are the disks (their partitions are what most
    // users pick).
    m_tree->expandAll();
    m_properties->clear();
}

QTreeWidgetItem* CDriveStagePage::itemOf(int index) const
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it)
        if ((*it)->data(0, kIndexRole).toInt() == index) return *it;
    return nullptr;
}

void CDriveStagePage::selectItem(int index)
{
    QTreeWidgetItem* item = itemOf(index);
    if (!item) return;
    // Selecting the item that is already current sends no change; the screen still wants it.
    if (m_tree->currentItem() == item)
        Q_EMIT itemSelected(index);
    else
        m_tree->setCurrentItem(item);
}

int CDriveStagePage::currentItem() const
{
    const QTreeWidgetItem* item = m_tree->currentItem();
    return item ? item->data(0, kIndexRole).toInt() : -1;
}

void CDriveStagePage::showProperties(const std::vector<storage::PropertyRow>& rows)
{
    m_properties->clear();
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem(m_properties);
        item->setText(0, qs(storage::trimText(row.name)));
        item->setText(1, qs(row.value));
    }
}

void CDriveStagePage::setPartitionSearchShown(bool shown)
{
    m_searchLabel->setVisible(shown);
    m_searchProgress->setVisible(shown);
    m_stopSearch->setVisible(shown);
    m_tree->setEnabled(!shown);
    for (QPushButton* b : {m_next, m_refresh, m_back, m_searchMore, m_loadLog, m_addImage})
        if (b) b->setEnabled(!shown);
}

}  // namespace kfr::ui
