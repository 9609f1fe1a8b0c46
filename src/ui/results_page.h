// CResultsPage: the scanning and results stages of the Basic and Deep screens on one page: the
// search mode and range, the status and stage lines, the progress bar and counts above; the
// results tree (CTreeClass) and the item list (CHideColumn) side by side; the buttons below.
// CPopulate is the wait window of a list population. Thin: CResultsScreen decides what happens.
#pragma once

#include <QDialog>
#include <QTreeView>
#include <QWidget>

#include "ui/scan_stage_page.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kfr::ui {

struct ScanTarget;
class ItemListModel;
class ResultsTreeModel;

// The results tree: folders with tri-state check boxes.
class CTreeClass : public QTreeView {
    Q_OBJECT
public:
    explicit CTreeClass(QWidget* parent = nullptr);
};

// The item list: full-row selection, grid lines, columns the user can reorder; hidden columns
// stay hidden (they cannot be widened) and no column is narrower than 20 pixels.
class CHideColumn : public QTreeView {
    Q_OBJECT
public:
    explicit CHideColumn(QWidget* parent = nullptr);
    // Hides the debug columns [from, to] (they keep their data for saving and tests).
    void hideColumns(int from, int to);
    // Ctrl with the keypad's plus: every visible column as wide as its widest text.
    void fitVisibleColumns();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// "Populating List Items, Please wait...." with Cancel. Modeless; Escape and Ctrl+Break do nothing.
class CPopulate : public QDialog {
    Q_OBJECT
public:
    explicit CPopulate(QWidget* parent = nullptr);
    QPushButton* cancelButton() const { return m_cancel; }
    void reject() override {}

Q_SIGNALS:
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* m_cancel = nullptr;
};

class CResultsPage : public QWidget {
    Q_OBJECT
public:
    CResultsPage(ResultsTreeModel* tree, ItemListModel* list, QWidget* parent = nullptr);

    // Clears the texts, sets the search mode, the range and the progress bar for a scan of target.
    void begin(const ScanTarget& target);
    // The stage after a loaded log: no range swept, nothing to show for it.
    void beginLoaded(const QString& modeText);
    void setProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high);
    void setRunning(bool running);

    CTreeClass* tree() const { return m_tree; }
    CHideColumn* list() const { return m_list; }
    QLabel* modeLabel() const { return m_texts.mode; }
    QLabel* rangeLabel() const { return m_texts.range; }
    QLabel* statusLabel() const { return m_texts.status; }
    QLabel* stageLabel() const { return m_stage; }
    QLabel* positionLabel() const { return m_texts.position; }
    QLabel* countsLabel() const { return m_counts; }
    QLabel* bootSectorsLabel() const { return m_boots; }
    QLabel* currentFolderLabel() const { return m_currentFolder; }
    QProgressBar* progress() const { return m_texts.progress; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* saveLogButton() const { return m_saveLog; }
    QPushButton* loadLogButton() const { return m_loadLog; }

private:
    ScanTexts m_texts;
    QLabel* m_stage = nullptr;
    QLabel* m_counts = nullptr;
    QLabel* m_boots = nullptr;
    QLabel* m_currentFolder = nullptr;
    CTreeClass* m_tree = nullptr;
    CHideColumn* m_list = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_saveLog = nullptr;
    QPushButton* m_loadLog = nullptr;
};

}  // namespace kfr::ui
