// The notice shown after the first listing of a scan that recovered nothing: which search mode
// could not help, and what to try instead.
#pragma once

#include <QDialog>

namespace kfr::ui {

class CEmptyResultNotice : public QDialog {
    Q_OBJECT
public:
    CEmptyResultNotice(bool deep, QWidget* parent = nullptr);
};

}  // namespace kfr::ui
