#include "ui/sig_raw_dlg.h"

#include <QLabel>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CRawDlg::CRawDlg(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName("clearingWindow");
    // A notice, not a dialog: clicks and keys go nowhere.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    QLabel* title = wrappedLabel(texts::kClearingTitle, this);
    makeBold(title);
    layout->addWidget(title);
    layout->addWidget(wrappedLabel(texts::kClearingNote, this));
    setMinimumWidth(360);
}

void CRawDlg::showOver(QWidget* screen)
{
    adjustSize();
    if (screen) move(screen->geometry().center() - rect().center());
    show();
    raise();
}

}  // namespace kfr::ui
