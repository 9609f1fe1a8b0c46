#include "ui/splash_window.h"

#include <QLabel>
#include <QVBoxLayout>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"
#include "ui/screen_header.h"

namespace kfr::ui {

CSplashWindow::CSplashWindow(std::function<bool()> mayClose, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen), m_mayClose(std::move(mayClose))
{
    setObjectName("splashWindow");
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(new CScreenHeader(QString(), this));
    auto* version = new QLabel(qs(texts::kVersionPrefix) + QStringLiteral(KFR_VERSION), this);
    version->setContentsMargins(20, 0, 20, 0);
    layout->addWidget(version);
    auto* loading = new QLabel(qs(texts::kSplashLoadingText), this);
    loading->setContentsMargins(20, 0, 20, 0);
    layout->addWidget(loading);
    m_timer.setInterval(2000);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_mayClose && m_mayClose()) close();
    });
    m_timer.start();
}

}  // namespace kfr::ui
