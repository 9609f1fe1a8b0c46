#include "ui/no_device.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

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
