#include "ui/widget_parts.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/qt_text.h"

namespace kfr::ui {

QPushButton* plainButton(const char* text, const char* objectName, QWidget* parent)
{
    auto* b = new QPushButton(qs(text), parent);
    b->setObjectName(objectName);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* wrappedLabel(const char* text, QWidget* parent)
{
    auto* label = new QLabel(qs(text), parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void makeBold(QWidget* widget)
{
    QFont bold = widget->font();
    bold.setBold(true);
    widget->setFont(bold);
}

void addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : buttons) row->addWidget(b);
    layout->addLayout(row);
}

}  // namespace kfr::ui
