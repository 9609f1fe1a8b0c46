#include "ui/sig_duplicate.h"

#include "texts/screen_texts.h"
#include "ui/qt_text.h"

namespace kfr::ui {

CSigDuplicate::CSigDuplicate(AppContext& context, QWidget* parent)
    : CRecoveryScreen(ScreenMode::Signature, qs(texts::kSignatureRangeIntro), context, parent)
{
}

}  // namespace kfr::ui
