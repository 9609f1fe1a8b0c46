#include "ui/sig_media_removed.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CMediaRemoved::CMediaRemoved(QWidget* parent) : QDialog(parent)
{
    setObjectName("mediaRemoved");
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    QLabel* text = wrappedLabel(texts::kMediaRemovedText, this);
    makeBold(text);
    layout->addWidget(text);
    m_applyUntilDone = new QCheckBox(qs(texts::kApplyUntilDoneBox), this);
    m_applyUntilDone->setObjectName("applyUntilDone");
    layout->addWidget(m_applyUntilDone);
    auto* cancel = plainButton(texts::kCancelSearchingButton, "cancelSearching", this);
    auto* retry = plainButton(texts::kRetryButton, "retryAndContinue", this);
    addButtonRow(layout, {cancel, retry});
    connect(cancel, &QPushButton::clicked, this, [this] { done(kCancelSearching); });
    connect(retry, &QPushButton::clicked, this, [this] { done(kRetryAndContinue); });
    setMinimumWidth(420);
}

bool CMediaRemoved::applyUntilDone() const
{
    return m_applyUntilDone->isChecked();
}

}  // namespace kfr::ui
