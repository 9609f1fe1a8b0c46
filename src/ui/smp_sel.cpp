#include "ui/smp_sel.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

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

}  // namespace kfr::ui
