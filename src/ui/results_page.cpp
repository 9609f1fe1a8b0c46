#include "ui/results_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "storage/progress.h"
#include "texts/list_columns.h"
#include "texts/log_texts.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/drive_stage.h"
#include "ui/qt_text.h"
#include "ui/results_models.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CTreeClass::CTreeClass(QWidget* parent) : QTreeView(parent)
{
    setObjectName("resultsTree");
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

CHideColumn::CHideColumn(QWidget* parent) : QTreeView(parent)
{
    setObjectName("itemList");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setStyleSheet("QTreeView::item { border-right: 1px solid palette(mid); border-bottom: 1px solid palette(midlight); }");
    header()->setSectionsMovable(true);
    header()->setMinimumSectionSize(20);
    header()->setStretchLastSection(false);
    header()->setSortIndicatorShown(true);
    header()->setSectionsClickable(true);
}

void CHideColumn::hideColumns(int from, int to)
{
    for (int c = 0; c < header()->count(); ++c) setColumnHidden(c, c >= from && c <= to);
    const int widths[] = {145, 60, 60, 60, 60};
    for (int c = 0; c < 5 && c < header()->count(); ++c) setColumnWidth(c, widths[c]);
}

void CHideColumn::fitVisibleColumns()
{
    for (int c = 0; c < header()->count(); ++c)
        if (!isColumnHidden(c)) resizeColumnToContents(c);
}

void CHideColumn::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Plus && (event->modifiers() & Qt::ControlModifier) &&
        (event->modifiers() & Qt::KeypadModifier)) {
        fitVisibleColumns();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

CPopulate::CPopulate(QWidget* parent) : QDialog(parent)
{
    setObjectName("populateWindow");
    setWindowTitle(QString());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(qs(texts::kPopulatingText), this));
    m_cancel = new QPushButton(qs(texts::kCancelButton), this);
    m_cancel->setObjectName("populateCancel");
    m_cancel->setDefault(true);  // Enter on Cancel counts as a click
    addButtonRow(layout, {m_cancel});
    connect(m_cancel, &QPushButton::clicked, this, &CPopulate::cancelled);
}

void CPopulate::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Cancel) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

CResultsPage::CResultsPage(ResultsTreeModel* tree, ItemListModel* list, QWidget* parent) : QWidget(parent)
{
    setObjectName("resultsPage");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QGridLayout;
    m_texts = ScanTexts::add(top, this, 1);
    m_stage = new QLabel(this);
    m_stage->setObjectName("stageText");
    top->addWidget(m_stage, 3, 0, 1, 2);
    m_counts = new QLabel(this);
    m_counts->setObjectName("countsText");
    m_boots = new QLabel(this);
    m_boots->setObjectName("bootSectorsText");
    m_currentFolder = new QLabel(this);
    m_currentFolder->setObjectName("currentFolderText");
    m_currentFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(m_counts, 6, 0);
    top->addWidget(m_boots, 6, 1);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(qs(texts::kCurrentFolderLabel) + ":", this));
    folderRow->addWidget(m_currentFolder, 1);
    top->addLayout(folderRow, 7, 0, 1, 2);
    top->setColumnStretch(1, 1);
    layout->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, this);
    m_tree = new CTreeClass(split);
    m_tree->setModel(tree);
    m_list = new CHideColumn(split);
    m_list->setModel(list);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    auto* buttons = new QHBoxLayout;
    m_save = plainButton(texts::kSaveButton, "save", this);
    m_saveLog = plainButton(texts::kSaveLogButton, "saveLog", this);
    m_loadLog = plainButton(texts::kLoadLogButton, "loadLog", this);
    m_stop = plainButton(texts::kStopButton, "stop", this);
    m_back = plainButton(texts::kBackButton, "back", this);
    buttons->addWidget(m_save);
    buttons->addWidget(m_saveLog);
    buttons->addWidget(m_loadLog);
    buttons->addStretch();
    buttons->addWidget(m_stop);
    buttons->addWidget(m_back);
    layout->addLayout(buttons);
}

void CResultsPage::begin(const ScanTarget& target)
{
    m_texts.begin(target);
    m_stage->clear();
    m_counts->clear();
    m_boots->clear();
    m_currentFolder->clear();
}

void CResultsPage::beginLoaded(const QString& modeText)
{
    m_texts.mode->setText(modeText);
    m_texts.range->clear();
    m_texts.position->clear();
    m_stage->clear();
    m_counts->setText(qs(texts::countsText(0, 0)));
    m_boots->clear();
    m_currentFolder->clear();
    m_texts.status->setText(qs(texts::kLoadingTreeText));
    m_texts.progress->setRange(0, 0);
}

void CResultsPage::setProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high)
{
    // The bar steps one block of 512 sectors; ranges past int's reach show in percent.
    ProgressBarModel bar;
    bar.start(low, high, 512);
    bar.advance(position);
    m_texts.progress->setRange(0, bar.maximum());
    m_texts.progress->setValue(bar.position());
}

void CResultsPage::setRunning(bool running)
{
    m_stop->setEnabled(running);
}

}  // namespace kfr::ui
