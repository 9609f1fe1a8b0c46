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

ScanTexts ScanTexts::add(QGridLayout* layout, QWidget* parent, int stageRows)
{
    ScanTexts t;
    t.mode = new QLabel(parent);
    t.mode->setObjectName("searchModeText");
    makeBold(t.mode);
    t.range = new QLabel(parent);
    t.range->setObjectName("rangeText");
    t.status = new QLabel(parent);
    t.status->setObjectName("statusText");
    t.position = new QLabel(parent);
    t.position->setObjectName("positionText");
    t.progress = new QProgressBar(parent);
    t.progress->setObjectName("scanProgress");
    layout->addWidget(t.mode, 0, 0, 1, 2);
    layout->addWidget(new QLabel(qs(texts::kSearchingFromSectorsLabel), parent), 1, 0);
    layout->addWidget(t.range, 1, 1);
    layout->addWidget(t.status, 2, 0, 1, 2);
    layout->addWidget(t.position, 3 + stageRows, 0, 1, 2);
    layout->addWidget(t.progress, 4 + stageRows, 0, 1, 2);
    return t;
}

void ScanTexts::begin(const ScanTarget& target)
{
    mode->setText(qs(modeName(target.mode)));
    range->setText(qs(target.rangeText()));
    position->clear();
    status->setText(qs(texts::kValidatingPartitionText));
    ProgressBarModel bar;
    bar.start(target.firstSector, target.lastSector, 512);
    progress->setRange(0, bar.maximum());
    progress->setValue(bar.position());
}

CScanStagePage::CScanStagePage(QWidget* parent) : QWidget(parent)
{
    setObjectName("scanStagePage");
    auto* layout = new QGridLayout(this);
    m_texts = ScanTexts::add(layout, this);
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
    m_texts.begin(target);
    m_stop->setEnabled(false);
}

}  // namespace kfr::ui
