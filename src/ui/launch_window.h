// CLaunchWindow: the small "Loading required information. Please wait..." window shown while a
// screen is being opened, with a bar that its owner's 80 ms timer advances by 2 (starting over
// when full).
#pragma once

#include <QDialog>

class QProgressBar;

namespace kfr::ui {

class CLaunchWindow : public QDialog {
    Q_OBJECT
public:
    explicit CLaunchWindow(QWidget* parent = nullptr);
    void step();
    QProgressBar* bar() const { return m_bar; }

private:
    QProgressBar* m_bar = nullptr;
};

}  // namespace kfr::ui
