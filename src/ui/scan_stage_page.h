// CScanStagePage: what a screen shows once Next has settled the drive: the search mode, the
// sector range ("Searching from sectors" ... " to " ...), the status line and the progress bar.
// The scanning and results stages of the Basic and Deep screens build on it.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kfr::ui {

struct ScanTarget;

class CScanStagePage : public QWidget {
    Q_OBJECT
public:
    explicit CScanStagePage(QWidget* parent = nullptr);

    // Clears the texts, sets the search mode, the range and the progress bar for target.
    void begin(const ScanTarget& target);

    QLabel* modeLabel() const { return m_mode; }
    QLabel* rangeLabel() const { return m_range; }
    QLabel* statusLabel() const { return m_status; }
    QLabel* positionLabel() const { return m_position; }
    QProgressBar* progress() const { return m_progress; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* stopButton() const { return m_stop; }

private:
    QLabel* m_mode = nullptr;
    QLabel* m_range = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_position = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_stop = nullptr;
};

}  // namespace kfr::ui
