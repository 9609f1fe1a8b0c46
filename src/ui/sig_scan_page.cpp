#include "ui/sig_scan_page.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/sig_screen_texts.h"
#include "texts/work_texts.h"
#include "ui/drive_stage.h"
#include "ui/qt_text.h"
#include "ui/sig_result_models.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

namespace {

// The largest range the bar shows one to one; beyond it the bar shows a percentage.
constexpr std::uint64_t kDirectBarRange = 2'147'483'646;

}  // namespace

CSigScanPage::CSigScanPage(QAbstractItemModel* resultList, QAbstractItemModel* fileTypes, QWidget* parent)
    : QWidget(parent)
{
    setObjectName("carvePage");
    auto* layout = new QGridLayout(this);
    m_texts = ScanTexts::add(layout, this, 1);
    m_pass = new QLabel(this);
    m_pass->setObjectName("passText");
    layout->addWidget(m_pass, 3, 0, 1, 2);

    auto* lists = new QHBoxLayout;
    m_resultList = new QListView(this);
    m_resultList->setObjectName("resultList");
    m_resultList->setModel(resultList);
    m_resultList->setUniformItemSizes(true);
    m_resultList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_resultList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lists->addWidget(m_resultList, 2);

    m_fileTypes = new QTableView(this);
    m_fileTypes->setObjectName("fileTypesTable");
    m_fileTypes->setModel(fileTypes);
    m_fileTypes->setShowGrid(true);
    m_fileTypes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileTypes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fileTypes->verticalHeader()->hide();
    m_fileTypes->setColumnWidth(FileTypesModel::FileTypes, 60);
    // "No. of files found" is widened to fit its header.
    const int headerWidth = QFontMetrics(m_fileTypes->horizontalHeader()->font()).horizontalAdvance(qs(texts::kFilesFoundColumn)) + 16;
    m_fileTypes->setColumnWidth(FileTypesModel::FilesFound, std::max(100, headerWidth));
    // What the search keeps per type beyond these two is not for the user: hidden columns
    // cannot be widened.
    for (int c = FileTypesModel::NameOfFile; c < FileTypesModel::kColumns; ++c) m_fileTypes->setColumnHidden(c, true);
    lists->addWidget(m_fileTypes, 1);
    layout->addLayout(lists, 6, 0, 1, 2);
    layout->setRowStretch(6, 1);

    m_clearingNote = new QLabel(qs(texts::kClearingNote), this);
    m_clearingNote->setObjectName("clearingNote");
    m_clearingNote->setWordWrap(true);
    m_clearingNote->hide();
    layout->addWidget(m_clearingNote, 7, 0, 1, 2);
    m_report = new QLabel(this);
    m_report->setObjectName("reportText");
    m_report->setWordWrap(true);
    m_report->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path has nowhere to wrap: it may be cut at the window's edge rather than widen it.
    m_report->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_report, 8, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    m_openFolder = plainButton(texts::kOpenContainingFolderButton, "openContainingFolder", this);
    m_stop = plainButton(texts::kStopButton, "stop", this);
    m_back = plainButton(texts::kBackButton, "back", this);
    buttons->addWidget(m_openFolder);
    buttons->addStretch();
    buttons->addWidget(m_stop);
    buttons->addWidget(m_back);
    layout->addLayout(buttons, 9, 0, 1, 2);
    layout->setColumnStretch(1, 1);
}

void CSigScanPage::begin(const ScanTarget& target)
{
    m_texts.begin(target);
    m_texts.status->clear();
    m_pass->clear();
    m_report->clear();
    m_clearingNote->hide();
    m_openFolder->hide();
    m_stop->setEnabled(true);
    m_back->setEnabled(false);
    m_resultList->setEnabled(true);
    setProgressShown(true);
}

void CSigScanPage::beginPass(const QString& title, std::uint64_t firstSector, std::uint64_t lastSector)
{
    m_pass->setText(title);
    m_texts.status->setText(qs(texts::statusText(StatusLine::SectorsScannedOfTotal, lastSector)));
    m_texts.position->setText(QString::number(firstSector));
    setProgress(firstSector, firstSector, lastSector);
}

void CSigScanPage::setProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high)
{
    QProgressBar* bar = m_texts.progress;
    if (position < low) position = low;
    if (position > high) position = high;
    m_texts.position->setText(QString::number(position));
    if (high - low <= kDirectBarRange) {
        bar->setRange(0, static_cast<int>(high - low));
        bar->setValue(static_cast<int>(position - low));
        return;
    }
    // A percentage that never goes back within a pass.
    const int percent = high > low ? static_cast<int>((position - low) * 100 / (high - low)) : 0;
    if (bar->maximum() != 100 || position == low) {
        bar->setRange(0, 100);
        m_lastPercent = 0;
    }
    if (percent > m_lastPercent) m_lastPercent = percent;
    bar->setValue(m_lastPercent);
}

void CSigScanPage::setProgressShown(bool shown)
{
    m_texts.position->setVisible(shown);
    m_texts.progress->setVisible(shown);
    m_pass->setVisible(shown);
}

}  // namespace kfr::ui
