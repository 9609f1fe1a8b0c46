// CSectorRangePanel: the sector range controls of the Deep Search and Signature Search screens:
// the slider between "Min" and "Max", the smallest and largest sector of the chosen drive, the
// "Start Sector" and "End Sector" of the scan, and the help button. The slider and the fields
// follow each other: a slider change writes the fields, a typed start or end moves the thumbs,
// a changed smallest or largest sector resets the scale.
#pragma once

#include <QWidget>
#include <optional>

#include "ui/drive_stage.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace kfr::ui {

class CRangeSlider;
class Dialogs;

class CSectorRangePanel : public QWidget {
    Q_OBJECT
public:
    CSectorRangePanel(const QString& intro, Dialogs& dialogs, QWidget* parent = nullptr);

    // A drive or partition was chosen: the scale and the range for it.
    void setChoice(const SectorChoice& choice);
    // The start and end as the fields hold them (nullopt for an empty or non-numeric field).
    RangeFields fields() const;

    CRangeSlider* slider() const { return m_slider; }
    QLineEdit* lowestField() const { return m_lowest; }
    QLineEdit* highestField() const { return m_highest; }
    QLineEdit* startField() const { return m_start; }
    QLineEdit* endField() const { return m_end; }
    QToolButton* helpButton() const { return m_help; }

private:
    void onSliderChanged();
    void onStartOrEndEdited();
    void onScaleFieldFinished(QLineEdit* field);

    Dialogs& m_dialogs;
    CRangeSlider* m_slider = nullptr;
    QLineEdit* m_lowest = nullptr;
    QLineEdit* m_highest = nullptr;
    QLineEdit* m_start = nullptr;
    QLineEdit* m_end = nullptr;
    QToolButton* m_help = nullptr;
};

}  // namespace kfr::ui
