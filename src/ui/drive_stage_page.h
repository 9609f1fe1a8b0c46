// CDriveStagePage: the widgets of a screen's drive stage: the drive tree, the property list,
// the sector range panel (Deep Search and Signature Search), the buttons and the progress row
// of a partition search. Thin: CRecoveryScreen decides what the buttons do.
#pragma once

#include <QWidget>

#include "ui/drive_stage.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kfr::ui {

class CSectorRangePanel;
class Dialogs;

class CDriveStagePage : public QWidget {
    Q_OBJECT
public:
    // rangeIntro empty: no sector range panel (the Basic screen).
    CDriveStagePage(const QString& rangeIntro, Dialogs& dialogs, QWidget* parent = nullptr);

    // Rebuilds the tree from the controller's items, "My Computer" expanded.
    void showTree(const DriveTree& tree);
    void selectItem(int index);
    int currentItem() const;
    void showProperties(const std::vector<storage::PropertyRow>& rows);
    // A screen's own input row (the Deep screen's file system), above the hint.
    void addInputRow(QWidget* row);

    QTreeWidget* tree() const { return m_tree; }
    QTreeWidget* properties() const { return m_properties; }
    CSectorRangePanel* rangePanel() const { return m_range; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* searchMoreButton() const { return m_searchMore; }
    QPushButton* loadLogButton() const { return m_loadLog; }
    QPushButton* addImageButton() const { return m_addImage; }
    QPushButton* stopSearchButton() const { return m_stopSearch; }
    QProgressBar* searchProgress() const { return m_searchProgress; }
    QLabel* searchLabel() const { return m_searchLabel; }
    // Shows or hides the progress row of a partition search, and holds the tree and the buttons
    // while it runs.
    void setPartitionSearchShown(bool shown);

Q_SIGNALS:
    void itemSelected(int index);

private:
    QTreeWidgetItem* itemOf(int index) const;

    QTreeWidget* m_tree = nullptr;
    QTreeWidget* m_properties = nullptr;
    CSectorRangePanel* m_range = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_searchMore = nullptr;
    QPushButton* m_loadLog = nullptr;
    QPushButton* m_addImage = nullptr;
    QPushButton* m_stopSearch = nullptr;
    QProgressBar* m_searchProgress = nullptr;
    QLabel* m_searchLabel = nullptr;
};

}  // namespace kfr::ui
