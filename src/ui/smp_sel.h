// CSmpSel: the mode dialog of Search More Partitions. "Continue" ends with 1 and keeps the mode
// chosen (5 Standard, 10 Advanced); "Cancel" (and the close box) with 2.
#pragma once

#include <QDialog>

class QRadioButton;

namespace kfr::ui {

class CSmpSel : public QDialog {
    Q_OBJECT
public:
    static constexpr int kStandardMode = 5;
    static constexpr int kAdvancedMode = 10;
    static constexpr int kContinued = 1;
    static constexpr int kCancelled = 2;

    explicit CSmpSel(QWidget* parent = nullptr);
    int mode() const { return m_mode; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QRadioButton* m_standard = nullptr;
    int m_mode = kStandardMode;
};

}  // namespace kfr::ui
