// The modal boxes of the drive stage: the whole-disk notice (CRem_Media_Scan), the choice
// offered for a mounted volume (CLogicalChoice), the mode dialog of Search More Partitions
// (CSmpSel) and the no-device dialog (CNoDevice).
#pragma once

#include <QDialog>
#include <functional>

class QRadioButton;

namespace kfr::ui {

// Shown before a whole disk is scanned by Basic Search. Accepted: "Search Entire Drive as a
// single Partition"; rejected: "OK, Go Back".
class CRem_Media_Scan : public QDialog {
    Q_OBJECT
public:
    explicit CRem_Media_Scan(QWidget* parent = nullptr);
};

// "Perform Logical Scan" ends with 1, "Perform Physical Scan" with 2, "Cancel" with 0. Enter and
// Escape do nothing here: the user has to pick a button.
class CLogicalChoice : public QDialog {
    Q_OBJECT
public:
    CLogicalChoice(const QString& designator, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

// "Continue" ends with 1 and keeps the mode chosen (5 Standard, 10 Advanced); "Cancel" with 2.
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

// Shown when neither branch of the drive tree has an item. "Retry" lists the drives again and
// closes the dialog (accepted) once any is found; "Exit" rejects it.
class CNoDevice : public QDialog {
    Q_OBJECT
public:
    CNoDevice(std::function<bool()> retry, QWidget* parent = nullptr);

private:
    std::function<bool()> m_retry;
};

}  // namespace kfr::ui
