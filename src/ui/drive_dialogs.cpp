#include "ui/drive_dialogs.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CRem_Media_Scan::CRem_Media_Scan(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(texts::kWholeDiskText, this));
    auto* entire = plainButton(texts::kSearchEntireDriveButton, "searchEntireDrive", this);
    auto* back = plainButton(texts::kOkGoBackButton, "okGoBack", this);
    addButtonRow(layout, {entire, back});
    connect(entire, &QPushButton::clicked, this, &QDialog::accept);
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(520);
}

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

// The window's close box cancels, as "Cancel" does.
void CLogicalChoice::closeEvent(QCloseEvent* event)
{
    event->ignore();
    done(0);
}

CSmpSel::CSmpSel(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(texts::kSearchModeHeading, this));
    layout->addWidget(wrappedLabel(texts::kSearchModePrompt, this));
    m_standard = new QRadioButton(qs(texts::kStandardModeOption), this);
    m_standard->setObjectName("standardMode");
    auto* advanced = new QRadioButton(qs(texts::kAdvancedModeOption), this);
    advanced->setObjectName("advancedMode");
    m_standard->setChecked(true);
    layout->addWidget(m_standard);
    layout->addWidget(advanced);
    auto* go = plainButton(texts::kContinueButton, "continue", this);
    auto* cancel = plainButton(texts::kCancelButton, "cancel", this);
    addButtonRow(layout, {go, cancel});
    connect(go, &QPushButton::clicked, this, [this] {
        m_mode = m_standard->isChecked() ? kStandardMode : kAdvancedMode;
        done(kContinued);
    });
    connect(cancel, &QPushButton::clicked, this, [this] { done(kCancelled); });
}

void CSmpSel::closeEvent(QCloseEvent* event)
{
    event->ignore();
    done(kCancelled);
}

CNoDevice::CNoDevice(std::function<bool()> retry, QWidget* parent) : QDialog(parent), m_retry(std::move(retry))
{
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    auto* heading = wrappedLabel(texts::kNoDeviceHeading, this);
    makeBold(heading);
    layout->addWidget(heading);
    layout->addWidget(wrappedLabel(texts::kNoDevicePoint1, this));
    layout->addWidget(wrappedLabel(texts::kNoDevicePoint2, this));
    layout->addWidget(wrappedLabel(texts::kNoDeviceAssistance, this));
    auto* retryButton = plainButton(texts::kRetryButtonText, "retry", this);
    auto* exitButton = plainButton(texts::kExitButton, "exit", this);
    addButtonRow(layout, {retryButton, exitButton});
    connect(retryButton, &QPushButton::clicked, this, [this] {
        if (m_retry && m_retry()) accept();
    });
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(520);
}

}  // namespace kfr::ui
