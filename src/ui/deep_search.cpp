#include "ui/deep_search.h"

#include "texts/screen_texts.h"
#include "ui/qt_text.h"

namespace kfr::ui {

CDeepSearch::CDeepSearch(AppContext& context, QWidget* parent)
    : CResultsScreen(ScreenMode::Deep, qs(texts::kDeepRangeIntro), context, parent)
{
}

}  // namespace kfr::ui
