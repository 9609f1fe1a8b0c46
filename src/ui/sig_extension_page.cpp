#include "ui/sig_extension_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/sig_screen_texts.h"
#include "ui/qt_text.h"
#include "ui/sig_texts.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

CSigExtensionPage::CSigExtensionPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("extensionPage");
    auto* layout = new QVBoxLayout(this);

    m_list = new QTableWidget(0, 2, this);
    m_list->setObjectName("extensionList");
    m_list->setHorizontalHeaderLabels({qs(texts::kExtensionColumn), qs(texts::kDescriptionColumn)});
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->setColumnWidth(0, 100);
    m_list->setColumnWidth(1, 240);
    m_list->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_list, 1);

    m_checkAll = plainButton(texts::kCheckAllButton, "checkAll", this);
    m_uncheckAll = plainButton(texts::kUncheckAllButton, "uncheckAll", this);
    auto* ticks = new QHBoxLayout;
    ticks->addWidget(m_checkAll);
    ticks->addWidget(m_uncheckAll);
    ticks->addStretch();
    layout->addLayout(ticks);

    m_thorough = new QCheckBox(qs(texts::kThoroughOption), this);
    m_thorough->setObjectName("thoroughOption");
    m_thorough->setChecked(true);
    layout->addWidget(m_thorough);
    m_exactEnd = new QCheckBox(qs(kExactEndOption), this);
    m_exactEnd->setObjectName("exactEndOption");
    m_exactEnd->setToolTip(qs(kExactEndTooltip));
    layout->addWidget(m_exactEnd);

    layout->addWidget(new QLabel(qs(texts::kBrowseLabel), this));
    auto* destinationRow = new QHBoxLayout;
    m_destination = new QLineEdit(this);
    m_destination->setObjectName("destination");
    m_browse = plainButton(texts::kBrowseButton, "browse", this);
    destinationRow->addWidget(m_destination, 1);
    destinationRow->addWidget(m_browse);
    layout->addLayout(destinationRow);

    m_back = plainButton(texts::kBackButton, "back", this);
    m_next = plainButton(texts::kNextButton, "next", this);
    addButtonRow(layout, {m_back, m_next});

    connect(m_checkAll, &QPushButton::clicked, this, [this] { checkAll(true); });
    connect(m_uncheckAll, &QPushButton::clicked, this, [this] { checkAll(false); });
}

void CSigExtensionPage::setExtensions(const carving::ExtensionList& list)
{
    std::vector<carving::ExtensionRow> rows = list.rows;
    std::stable_sort(rows.begin(), rows.end(), [](const carving::ExtensionRow& a, const carving::ExtensionRow& b) {
        return qs(a.key).compare(qs(b.key), Qt::CaseInsensitive) < 0;
    });
    m_list->setRowCount(0);
    m_list->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        auto* key = new QTableWidgetItem(qs(rows[static_cast<std::size_t>(r)].key));
        key->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        key->setCheckState(Qt::Checked);
        auto* description = new QTableWidgetItem(qs(rows[static_cast<std::size_t>(r)].description));
        description->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_list->setItem(r, 0, key);
        m_list->setItem(r, 1, description);
    }
    if (m_list->rowCount() > 0) m_list->setCurrentCell(0, 0);
    m_list->setFocus();
}

void CSigExtensionPage::clearExtensions()
{
    m_list->setRowCount(0);
}

carving::ExtensionList CSigExtensionPage::extensions() const
{
    carving::ExtensionList list;
    for (int r = 0; r < m_list->rowCount(); ++r) {
        const QTableWidgetItem* key = m_list->item(r, 0);
        const QTableWidgetItem* description = m_list->item(r, 1);
        if (!key) continue;
        list.rows.push_back({key->text().toStdString(), description ? description->text().toStdString() : std::string(),
                             key->checkState() == Qt::Checked});
    }
    return list;
}

void CSigExtensionPage::checkAll(bool ticked)
{
    for (int r = 0; r < m_list->rowCount(); ++r)
        if (QTableWidgetItem* key = m_list->item(r, 0)) key->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace kfr::ui
