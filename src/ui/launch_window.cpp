#include "ui/launch_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"

namespace kfr::ui {

CLaunchWindow::CLaunchWindow(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("launchWindow");
    setWindowTitle(qs(texts::kProductName));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(qs(texts::kLaunchLoadingText), this));
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    layout->addWidget(m_bar);
    setFixedWidth(360);
}

void CLaunchWindow::step()
{
    const int next = m_bar->value() + 2;
    m_bar->setValue(next > m_bar->maximum() ? 0 : next);
}

}  // namespace kfr::ui
