// CRangeSlider: the two-thumb slider over a sector range. The arithmetic lives in
// RangeSliderModel; this widget paints it and turns mouse and keyboard events into its calls.
// rangeChanged is emitted synchronously (a direct call) after every change the user or the
// clamping of setScale/setRange made, with what moved: 0 the left thumb, 1 the right, 2 both.
#pragma once

#include <QWidget>

#include "ui/range_slider_model.h"

namespace kfr::ui {

class CRangeSlider : public QWidget {
    Q_OBJECT
public:
    explicit CRangeSlider(QWidget* parent = nullptr, bool horizontal = true);

    void setScale(double min, double max);
    void setRange(double left, double right);
    std::pair<double, double> range() const { return m_model.range(); }
    std::pair<double, double> scale() const { return m_model.scale(); }
    void setInverted(bool inverted);
    const RangeSliderModel& model() const { return m_model; }

    QSize sizeHint() const override;

Q_SIGNALS:
    void rangeChanged(int what);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int axisPosition(const QPoint& point) const;
    QRect thumbRect(int start) const;
    void drawThumb(QPainter& painter, const QRect& rect, bool raised, bool pointsForward) const;

    RangeSliderModel m_model;
};

}  // namespace kfr::ui
