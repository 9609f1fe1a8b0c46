// CLogicalChoice: the choice offered for a mounted volume. "Perform Logical Scan" ends with 1,
// "Perform Physical Scan" with 2, "Cancel" (and the close box) with 0. Enter and Escape do nothing
// here: the user has to pick a button.
#pragma once

#include <QDialog>

namespace kfr::ui {

class CLogicalChoice : public QDialog {
    Q_OBJECT
public:
    CLogicalChoice(const QString& designator, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace kfr::ui
