// CBasicSearch: the Basic Search screen. Its drive stage has no sector range: Next reads the
// chosen partition, the whole disk after its box, or a mounted volume after the choice.
#pragma once

#include "ui/results_screen.h"

namespace kfr::ui {

class CBasicSearch : public CResultsScreen {
    Q_OBJECT
public:
    explicit CBasicSearch(AppContext& context, QWidget* parent = nullptr);
};

}  // namespace kfr::ui
