// CSigScanPage: the Signature Search screen's scanning step: the search texts and progress, the
// pass being run, the `ResultList` of carved files and the `FileTypesTable` beside it, the
// standing note about clearing the list, where the report went, and Stop, Back and "Open
// Containing Folder". Thin: CSigDuplicate fills it and decides what the buttons do.
#pragma once

#include <QWidget>

#include "ui/scan_stage_page.h"

class QAbstractItemModel;
class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QTableView;

namespace kfr::ui {

class CSigScanPage : public QWidget {
    Q_OBJECT
public:
    CSigScanPage(QAbstractItemModel* resultList, QAbstractItemModel* fileTypes, QWidget* parent = nullptr);

    // Clears the texts and sets the mode, the range and the bar for target; Stop is enabled,
    // Back and "Open Containing Folder" are not.
    void begin(const ScanTarget& target);
    // A pass begins: its title, the sectors it covers and a fresh bar.
    void beginPass(const QString& title, std::uint64_t firstSector, std::uint64_t lastSector);
    // position lies in [low, high]; the bar follows the rule for 64-bit ranges.
    void setProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high);
    // The progress controls: the current sector, the bar and the pass title.
    void setProgressShown(bool shown);

    QLabel* modeLabel() const { return m_texts.mode; }
    QLabel* rangeLabel() const { return m_texts.range; }
    QLabel* statusLabel() const { return m_texts.status; }
    QLabel* positionLabel() const { return m_texts.position; }
    QProgressBar* progress() const { return m_texts.progress; }
    QLabel* passLabel() const { return m_pass; }
    QLabel* clearingNote() const { return m_clearingNote; }
    QLabel* reportLabel() const { return m_report; }
    QListView* resultList() const { return m_resultList; }
    QTableView* fileTypesTable() const { return m_fileTypes; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* openFolderButton() const { return m_openFolder; }

private:
    ScanTexts m_texts;
    QLabel* m_pass = nullptr;
    QLabel* m_clearingNote = nullptr;
    QLabel* m_report = nullptr;
    QListView* m_resultList = nullptr;
    QTableView* m_fileTypes = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_openFolder = nullptr;
    int m_lastPercent = 0;
};

}  // namespace kfr::ui
