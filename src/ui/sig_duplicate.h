// CSigDuplicate: the Signature Search screen. Its drive step carries the sector range controls;
// Next leads on to the choice of file types with the range they hold.
#pragma once

#include "ui/recovery_screen.h"

namespace kfr::ui {

class CSigDuplicate : public CRecoveryScreen {
    Q_OBJECT
public:
    explicit CSigDuplicate(AppContext& context, QWidget* parent = nullptr);
};

}  // namespace kfr::ui
