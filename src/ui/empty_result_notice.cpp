#include "ui/empty_result_notice.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CEmptyResultNotice::CEmptyResultNotice(bool deep, QWidget* parent) : QDialog(parent)
{
    setObjectName("emptyResultNotice");
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    auto* first = wrappedLabel(deep ? texts::kEmptyResultDeepText : texts::kEmptyResultBasicText, this);
    makeBold(first);
    layout->addWidget(first);
    auto* important = wrappedLabel(texts::kEmptyResultImportant, this);
    makeBold(important);
    layout->addWidget(important);
    layout->addWidget(wrappedLabel(texts::kEmptyResultPoint1, this));
    layout->addWidget(wrappedLabel(texts::kEmptyResultPoint2, this));
    layout->addWidget(wrappedLabel(texts::kEmptyResultPoint3, this));
    layout->addWidget(wrappedLabel(texts::kEmptyResultAssistance, this));
    auto* ok = plainButton(texts::kOkButton, "ok", this);
    addButtonRow(layout, {ok});
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setMinimumWidth(520);
}

}  // namespace kfr::ui
