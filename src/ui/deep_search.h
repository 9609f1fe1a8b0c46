// CDeepSearch: the Deep Search screen. Its drive stage carries the sector range controls; Next
// sweeps the range they hold on the chosen disk, partition or volume.
#pragma once

#include "ui/results_screen.h"

namespace kfr::ui {

class CDeepSearch : public CResultsScreen {
    Q_OBJECT
public:
    explicit CDeepSearch(AppContext& context, QWidget* parent = nullptr);
};

}  // namespace kfr::ui
