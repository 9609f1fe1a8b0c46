#include "ui/basic_search.h"

namespace kfr::ui {

CBasicSearch::CBasicSearch(AppContext& context, QWidget* parent)
    : CRecoveryScreen(ScreenMode::Basic, QString(), context, parent)
{
}

}  // namespace kfr::ui
