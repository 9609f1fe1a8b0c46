// CSigExtensionPage: the Signature Search screen's extension step: the `ExtensionList` of the
// types the signature files know (ticked when listed), "Check All" and "Uncheck All", the
// Thorough option, the exact-end option, and the destination with "Browse". Thin: CSigDuplicate
// decides what the buttons do.
#pragma once

#include <QWidget>

#include "carving/signature_file.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kfr::ui {

class CSigExtensionPage : public QWidget {
    Q_OBJECT
public:
    explicit CSigExtensionPage(QWidget* parent = nullptr);

    // Fills the list, every row ticked, sorted by extension regardless of case; the list gets
    // the focus.
    void setExtensions(const carving::ExtensionList& list);
    void clearExtensions();
    // The rows with the user's ticks, in list order.
    carving::ExtensionList extensions() const;
    void checkAll(bool ticked);

    QTableWidget* extensionList() const { return m_list; }
    QCheckBox* thoroughOption() const { return m_thorough; }
    QCheckBox* exactEndOption() const { return m_exactEnd; }
    QLineEdit* destination() const { return m_destination; }
    QPushButton* browseButton() const { return m_browse; }
    QPushButton* checkAllButton() const { return m_checkAll; }
    QPushButton* uncheckAllButton() const { return m_uncheckAll; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* nextButton() const { return m_next; }

private:
    QTableWidget* m_list = nullptr;
    QCheckBox* m_thorough = nullptr;
    QCheckBox* m_exactEnd = nullptr;
    QLineEdit* m_destination = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_checkAll = nullptr;
    QPushButton* m_uncheckAll = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
};

}  // namespace kfr::ui
