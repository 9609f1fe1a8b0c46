// CScanStagePage: what a screen shows once Next has settled the drive: the search mode, the
// sector range ("Searching from sectors" ... " to " ...), the status line and the progress bar.
// The scanning and results stages of the Basic and Deep screens build on it.
#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace kfr::ui {

struct ScanTarget;

// The texts above every scan: the search mode, "Searching from sectors" with the range, the
// status line, the position and the progress bar.
struct ScanTexts {
    QLabel* mode = nullptr;
    QLabel* range = nullptr;
    QLabel* status = nullptr;
    QLabel* position = nullptr;
    QProgressBar* progress = nullptr;

    // Adds them to the first rows of layout, leaving stageRows rows free after the status line
    // (the results page puts its stage line there).
    static ScanTexts add(QGridLayout* layout, QWidget* parent, int stageRows = 0);
    // Clears the texts, sets the mode, the range and the bar (one step per 512 sectors).
    void begin(const ScanTarget& target);
};

class CScanStagePage : public QWidget {
    Q_OBJECT
public:
    explicit CScanStagePage(QWidget* parent = nullptr);

    // Clears the texts, sets the search mode, the range and the progress bar for target.
    void begin(const ScanTarget& target);

    QLabel* modeLabel() const { return m_texts.mode; }
    QLabel* rangeLabel() const { return m_texts.range; }
    QLabel* statusLabel() const { return m_texts.status; }
    QLabel* positionLabel() const { return m_texts.position; }
    QProgressBar* progress() const { return m_texts.progress; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* stopButton() const { return m_stop; }

private:
    ScanTexts m_texts;
    QPushButton* m_back = nullptr;
    QPushButton* m_stop = nullptr;
};

}  // namespace kfr::ui
