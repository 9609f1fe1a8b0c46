#include "ui/scan_stage_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "storage/progress.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/drive_stage.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CScanStagePage::CScanStagePage(QWidget* parent) : QWidget(parent)
{
    setObjectName("scanStagePage");
    auto* layout = new QGridLayout(this);
    m_mode = new QLabel(this);
    m_mode->setObjectName("searchModeText");
    makeBold(m_mode);
    m_range = new QLabel(this);
    m_range->setObjectName("rangeText");
    m_status = new QLabel(this);
    m_status->setObjectName("statusText");
    m_position = new QLabel(this);
    m_position->setObjectName("positionText");
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("scanProgress");
    layout->addWidget(m_mode, 0, 0, 1, 2);
    layout->addWidget(new QLabel(qs(texts::kSearchingFromSectorsLabel), this), 1, 0);
    layout->addWidget(m_range, 1, 1);
    layout->addWidget(m_status, 2, 0, 1, 2);
    layout->addWidget(m_position, 3, 0, 1, 2);
    layout->addWidget(m_progress, 4, 0, 1, 2);
    layout->setRowStretch(5, 1);
    auto* buttons = new QHBoxLayout;
    m_back = plainButton(texts::kBackButton, "back", this);
    m_stop = plainButton(texts::kStopButton, "stop", this);
    buttons->addStretch();
    buttons->addWidget(m_stop);
    buttons->addWidget(m_back);
    layout->addLayout(buttons, 6, 0, 1, 2);
    layout->setColumnStretch(1, 1);
}

void CScanStagePage::begin(const ScanTarget& target)
{
    m_mode->setText(qs(modeName(target.mode)));
    m_range->setText(qs(target.rangeText()));
    m_position->clear();
    m_status->setText(qs(texts::kValidatingPartitionText));
    // The bar spans the range with a step of one block of 512 sectors.
    ProgressBarModel bar;
    bar.start(target.firstSector, target.lastSector, 512);
    m_progress->setRange(0, bar.maximum());
    m_progress->setValue(bar.position());
    m_stop->setEnabled(false);
}

}  // namespace kfr::ui
