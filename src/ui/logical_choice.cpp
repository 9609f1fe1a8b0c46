#include "ui/logical_choice.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CLogicalChoice::CLogicalChoice(const QString& designator, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(qs(texts::kLogicalChoicePrefix) + designator + qs(texts::kLogicalChoiceSuffix), this);
    heading->setObjectName("heading");
    makeBold(heading);
    layout->addWidget(heading);
    layout->addWidget(wrappedLabel(texts::kLogicalChoiceExplanation, this));
    auto* logical = plainButton(texts::kPerformLogicalScanButton, "logicalScan", this);
    auto* physical = plainButton(texts::kPerformPhysicalScanButton, "physicalScan", this);
    auto* cancel = plainButton(texts::kCancelButton, "cancel", this);
    addButtonRow(layout, {logical, physical, cancel});
    connect(logical, &QPushButton::clicked, this, [this] { done(1); });
    connect(physical, &QPushButton::clicked, this, [this] { done(2); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    setMinimumWidth(560);
}

void CLogicalChoice::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CLogicalChoice::closeEvent(QCloseEvent* event)
{
    event->ignore();
    done(0);
}

}  // namespace kfr::ui
