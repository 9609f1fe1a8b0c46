// CRawDlg: the small window shown while the Signature Search screen empties its list of carved
// files (every 2,000 files). It takes no input and closes by itself.
#pragma once

#include <QWidget>

namespace kfr::ui {

class CRawDlg : public QWidget {
    Q_OBJECT
public:
    explicit CRawDlg(QWidget* parent = nullptr);
    // Shows the window centred over the screen that owns it.
    void showOver(QWidget* screen);
};

}  // namespace kfr::ui
