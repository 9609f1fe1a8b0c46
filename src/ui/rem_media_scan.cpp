#include "ui/rem_media_scan.h"

#include <QLabel>
#include <QPushButton>
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

}  // namespace kfr::ui
