// CMediaRemoved: asked while a Signature Search runs and the medium cannot be opened or read.
// "Cancel Searching" ends the search (what was carved stays); "Retry and Continue..." opens the
// medium again and reads the block once more; its check box makes every later failure of the
// same pass retry without asking. Closed without either: the pass goes on without the block.
#pragma once

#include <QDialog>

class QCheckBox;

namespace kfr::ui {

class CMediaRemoved : public QDialog {
    Q_OBJECT
public:
    // exec() results; a box closed without a button gives QDialog::Rejected (0).
    static constexpr int kCancelSearching = 1;
    static constexpr int kRetryAndContinue = 2;

    explicit CMediaRemoved(QWidget* parent = nullptr);
    bool applyUntilDone() const;

private:
    QCheckBox* m_applyUntilDone = nullptr;
};

}  // namespace kfr::ui
