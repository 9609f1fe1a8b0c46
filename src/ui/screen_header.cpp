#include "ui/screen_header.h"

#include <QLinearGradient>
#include <QPainter>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/qt_text.h"

namespace kfr::ui {

namespace {

QFont headerFont()
{
    QFont font(QStringLiteral("Calibri"));
    font.setPixelSize(36);
    font.setWeight(QFont::Medium);
    return font;
}

}  // namespace

CScreenHeader::CScreenHeader(const QString& screenTitle, QWidget* parent) : QWidget(parent)
{
    setObjectName("screenHeader");
    m_text = qs(texts::kProductName);
    if (!screenTitle.isEmpty()) m_text += qs(texts::kProductTitleSeparator) + screenTitle;
    setAccessibleName(m_text);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize CScreenHeader::sizeHint() const
{
    const QFontMetrics metrics(headerFont());
    return {metrics.horizontalAdvance(m_text) + 40, metrics.height() + 24};
}

void CScreenHeader::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient band(0, 0, 0, height());
    band.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
    band.setColorAt(1, QColor(0x13, 0x30, 0x5a));
    painter.fillRect(rect(), band);
    painter.setPen(Qt::white);
    painter.setFont(headerFont());
    painter.drawText(rect().adjusted(20, 0, -20, 0), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

}  // namespace kfr::ui
