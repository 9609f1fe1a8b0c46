// CSplashWindow: shown while a recovery log named on the command line is opened: the product
// name, the version and "Loading required information.\nPlease wait...". Every 2000 ms it asks
// whether it may close.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>

namespace kfr::ui {

class CSplashWindow : public QDialog {
    Q_OBJECT
public:
    CSplashWindow(std::function<bool()> mayClose, QWidget* parent = nullptr);

private:
    std::function<bool()> m_mayClose;
    QTimer m_timer;
};

}  // namespace kfr::ui
