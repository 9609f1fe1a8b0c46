// CNoDevice: shown when neither branch of the drive tree has an item. "Retry" lists the drives
// again and closes the dialog (accepted) once any is found; "Exit" rejects it.
#pragma once

#include <QDialog>
#include <functional>

namespace kfr::ui {

class CNoDevice : public QDialog {
    Q_OBJECT
public:
    CNoDevice(std::function<bool()> retry, QWidget* parent = nullptr);

private:
    std::function<bool()> m_retry;
};

}  // namespace kfr::ui
