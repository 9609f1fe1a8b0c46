// CRem_Media_Scan: shown before a whole disk is scanned by Basic Search. Accepted: "Search Entire
// Drive as a single Partition"; rejected: "OK, Go Back".
#pragma once

#include <QDialog>

namespace kfr::ui {

class CRem_Media_Scan : public QDialog {
    Q_OBJECT
public:
    explicit CRem_Media_Scan(QWidget* parent = nullptr);
};

}  // namespace kfr::ui
