#include "ui/basic_search.h"

namespace kfr::ui {

CBasicSearch::CBasicSearch(AppContext& context, QWidget* parent)
    : CResultsScreen(ScreenMode::Basic, QString(), context, parent)
{
}

}  // namespace kfr::ui
