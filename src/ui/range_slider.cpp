#include "ui/range_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace kfr::ui {

CRangeSlider::CRangeSlider(QWidget* parent, bool horizontal) : QWidget(parent)
{
    setObjectName("rangeSlider");
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    m_model.setHorizontal(horizontal);
    m_model.setClientSize(width(), height());
    m_model.setNotify([this](int what) {
        Q_EMIT rangeChanged(what);
        update();
    });
    setSizePolicy(horizontal ? QSizePolicy::Expanding : QSizePolicy::Fixed,
                  horizontal ? QSizePolicy::Fixed : QSizePolicy::Expanding);
}

QSize CRangeSlider::sizeHint() const
{
    return m_model.horizontal() ? QSize(300, 20) : QSize(20, 300);
}

void CRangeSlider::setScale(double min, double max)
{
    m_model.setScale(min, max);
    update();
}

void CRangeSlider::setRange(double left, double right)
{
    m_model.setRange(left, right);
    update();
}

void CRangeSlider::setInverted(bool inverted)
{
    m_model.setInverted(inverted);
    update();
}

int CRangeSlider::axisPosition(const QPoint& point) const
{
    return m_model.horizontal() ? point.x() : point.y();
}

QRect CRangeSlider::thumbRect(int start) const
{
    const int aw = m_model.arrowWidth();
    return m_model.horizontal() ? QRect(start, 0, aw, height()) : QRect(0, start, width(), aw);
}

void CRangeSlider::resizeEvent(QResizeEvent* event)
{
    m_model.setClientSize(width(), height());
    QWidget::resizeEvent(event);
}

void CRangeSlider::drawThumb(QPainter& painter, const QRect& rect, bool raised, bool pointsForward) const
{
    const QPalette& pal = palette();
    painter.fillRect(rect, pal.color(QPalette::Button));
    if (raised) {
        // A raised edge one pixel inside: highlight top and left, shadow bottom and right.
        const QRect edge = rect.adjusted(1, 1, -2, -2);
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
    }
    // A small triangle pointing towards the band.
    const QPointF c = QRectF(rect).center();
    const double r = std::max(2.0, std::min(rect.width(), rect.height()) / 5.0);
    QPainterPath triangle;
    if (m_model.horizontal()) {
        const double tip = pointsForward ? r : -r;
        triangle.moveTo(c.x() - tip, c.y() - r);
        triangle.lineTo(c.x() + tip, c.y());
        triangle.lineTo(c.x() - tip, c.y() + r);
    } else {
        const double tip = pointsForward ? r : -r;
        triangle.moveTo(c.x() - r, c.y() - tip);
        triangle.lineTo(c.x(), c.y() + tip);
        triangle.lineTo(c.x() + r, c.y() - tip);
    }
    triangle.closeSubpath();
    painter.fillPath(triangle, Qt::black);
}

// Qt paints widgets through a back buffer of its own, so this draws straight to the widget.
void CRangeSlider::paintEvent(QPaintEvent*)
{
    m_model.setClientSize(width(), height());
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    const QRect left = thumbRect(m_model.leftThumbStart());
    const QRect right = thumbRect(m_model.rightThumbStart());
    const QRect band = m_model.horizontal() ? QRect(QPoint(left.right() + 1, 1), QPoint(right.left() - 1, height() - 2))
                                            : QRect(QPoint(1, left.bottom() + 1), QPoint(width() - 2, right.top() - 1));
    if (band.isValid()) painter.fillRect(band, Qt::white);
    const bool draggingLeft = m_model.dragging() && m_model.dragTarget() == RangeSliderModel::DragTarget::LeftThumb;
    const bool draggingRight = m_model.dragging() && m_model.dragTarget() == RangeSliderModel::DragTarget::RightThumb;
    drawThumb(painter, left, !draggingLeft, true);
    drawThumb(painter, right, !draggingRight, false);
}

void CRangeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    update();
    // Qt grabs the mouse for the widget under a pressed button, as capturing it would.
    if (m_model.press(axisPosition(event->position().toPoint()))) update();
}

void CRangeSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_model.dragging()) return;
    m_model.drag(axisPosition(event->position().toPoint()));
    update();
}

void CRangeSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    m_model.release();
    update();
}

void CRangeSlider::keyPressEvent(QKeyEvent* event)
{
    const bool horizontal = m_model.horizontal();
    const int forward = horizontal ? Qt::Key_Right : Qt::Key_Down;
    const int backward = horizontal ? Qt::Key_Left : Qt::Key_Up;
    if (event->key() != forward && event->key() != backward) return QWidget::keyPressEvent(event);
    const auto mods = event->modifiers();
    m_model.key(event->key() == forward ? RangeSliderModel::Key::Forward : RangeSliderModel::Key::Backward,
                mods.testFlag(Qt::ShiftModifier), mods.testFlag(Qt::ControlModifier));
    event->accept();
}

void CRangeSlider::focusInEvent(QFocusEvent* event)
{
    update();
    QWidget::focusInEvent(event);
}

void CRangeSlider::focusOutEvent(QFocusEvent* event)
{
    update();
    QWidget::focusOutEvent(event);
}

}  // namespace kfr::ui
