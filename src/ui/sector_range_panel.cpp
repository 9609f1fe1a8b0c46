#include "ui/sector_range_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include "texts/screen_texts.h"
#include "ui/dialogs.h"
#include "ui/qt_text.h"
#include "ui/range_slider.h"

namespace kfr::ui {

namespace {

std::optional<std::uint64_t> sectorOf(const QLineEdit* field)
{
    bool ok = false;
    const qulonglong value = field->text().trimmed().toULongLong(&ok);
    if (!ok) return std::nullopt;
    return value;
}

QString sectorText(std::uint64_t value)
{
    return QString::number(static_cast<qulonglong>(value));
}

// The slider keeps doubles; the fields keep whole sectors, the fraction dropped.
std::uint64_t sectorOfValue(double value)
{
    return value <= 0 ? 0 : static_cast<std::uint64_t>(value);
}

QLineEdit* sectorField(const char* name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,20}")), field));
    field->setAlignment(Qt::AlignRight);
    return field;
}

}  // namespace

CSectorRangePanel::CSectorRangePanel(const QString& intro, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs)
{
    setObjectName("sectorRangePanel");
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* introLabel = new QLabel(intro, this);
    introLabel->setWordWrap(true);
    layout->addWidget(introLabel, 0, 0, 1, 4);

    m_help = new QToolButton(this);
    m_help->setObjectName("sectorRangeHelp");
    m_help->setText(QStringLiteral("?"));
    m_help->setToolTip(qs(texts::kSectorRangeHelpTooltip));
    layout->addWidget(m_help, 0, 4);

    m_slider = new CRangeSlider(this);
    m_slider->setMinimumHeight(20);
    m_slider->setMaximumHeight(24);
    layout->addWidget(new QLabel(qs(texts::kSliderMinLabel), this), 1, 0);
    layout->addWidget(m_slider, 1, 1, 1, 2);
    layout->addWidget(new QLabel(qs(texts::kSliderMaxLabel), this), 1, 3);

    m_lowest = sectorField("lowestSector", this);
    m_highest = sectorField("highestSector", this);
    m_start = sectorField("startSector", this);
    m_end = sectorField("endSector", this);
    layout->addWidget(m_lowest, 2, 0, 1, 2);
    layout->addWidget(m_highest, 2, 2, 1, 2);
    layout->addWidget(new QLabel(qs(texts::kStartSectorLabel), this), 3, 0);
    layout->addWidget(m_start, 3, 1);
    layout->addWidget(new QLabel(qs(texts::kEndSectorLabel), this), 3, 2);
    layout->addWidget(m_end, 3, 3);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);

    connect(m_slider, &CRangeSlider::rangeChanged, this, &CSectorRangePanel::onSliderChanged);
    // Only what the user types moves the thumbs; the fields written here do not come back.
    connect(m_start, &QLineEdit::textEdited, this, &CSectorRangePanel::onStartOrEndEdited);
    connect(m_end, &QLineEdit::textEdited, this, &CSectorRangePanel::onStartOrEndEdited);
    connect(m_lowest, &QLineEdit::editingFinished, this, [this] { onScaleFieldFinished(m_lowest); });
    connect(m_highest, &QLineEdit::editingFinished, this, [this] { onScaleFieldFinished(m_highest); });
    connect(m_help, &QToolButton::clicked, this, [this] { m_dialogs.explain(this, qs(texts::kSectorRangeHelpText)); });
}

void CSectorRangePanel::setChoice(const SectorChoice& choice)
{
    m_start->setText(QStringLiteral("0"));
    m_end->setText(QStringLiteral("0"));
    m_slider->setScale(static_cast<double>(choice.lowest), static_cast<double>(choice.highest));
    m_slider->setRange(static_cast<double>(choice.start), static_cast<double>(choice.end));
    m_start->setText(sectorText(choice.start));
    m_end->setText(sectorText(choice.end));
    m_lowest->setText(sectorText(choice.lowest));
    m_highest->setText(sectorText(choice.highest));
    for (QLineEdit* field : {m_start, m_end, m_lowest, m_highest}) field->setModified(false);
}

RangeFields CSectorRangePanel::fields() const
{
    return {sectorOf(m_start), sectorOf(m_end)};
}

void CSectorRangePanel::onSliderChanged()
{
    const auto [left, right] = m_slider->range();
    m_start->setText(sectorText(sectorOfValue(left)));
    m_end->setText(sectorText(sectorOfValue(right)));
}

// An end typed below the start leaves the thumbs where they are.
void CSectorRangePanel::onStartOrEndEdited()
{
    const auto start = sectorOf(m_start);
    const auto end = sectorOf(m_end);
    if (!start || !end || *end < *start) return;
    m_slider->setRange(static_cast<double>(*start), static_cast<double>(*end));
}

void CSectorRangePanel::onScaleFieldFinished(QLineEdit* field)
{
    if (!field->isModified()) return;
    field->setModified(false);
    const auto lowest = sectorOf(m_lowest);
    const auto highest = sectorOf(m_highest);
    if (!lowest || !highest) return;
    m_slider->setScale(static_cast<double>(*lowest), static_cast<double>(*highest));
}

}  // namespace kfr::ui
