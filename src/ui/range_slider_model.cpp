#include "ui/range_slider_model.h"

#include <algorithm>

namespace kfr::ui {

void RangeSliderModel::setClientSize(int width, int height)
{
    m_width = width;
    m_height = height;
    m_arrowWidth = crossPixels() * 3 / 4;
    m_trackWidth = lengthPixels() - 2 * m_arrowWidth;
}

void RangeSliderModel::setScale(double min, double max)
{
    if (min > max) std::swap(min, max);
    if (m_inverted) {
        m_min = -max;
        m_max = -min;
    } else {
        m_min = min;
        m_max = max;
    }
    bringInsideScale();
}

void RangeSliderModel::setRange(double left, double right)
{
    // A range given end first would leave the thumbs crossed and the band negative; it is taken
    // the right way round.
    if (left > right) std::swap(left, right);
    if (m_inverted) {
        m_left = -right;
        m_right = -left;
    } else {
        m_left = left;
        m_right = right;
    }
    bringInsideScale();
}

std::pair<double, double> RangeSliderModel::range() const
{
    if (m_inverted) return {-m_right, -m_left};
    return {m_left, m_right};
}

std::pair<double, double> RangeSliderModel::scale() const
{
    if (m_inverted) return {-m_max, -m_min};
    return {m_min, m_max};
}

// The two checks are independent and each tells the parent what it moved, so a program's own
// setScale or setRange can reach the parent's handler just as a drag does.
void RangeSliderModel::bringInsideScale()
{
    if (m_left < m_min) {
        m_left = m_min;
        notify(kLeftMoved);
        if (m_left > m_right) {
            m_right = m_left;
            notify(kRightMoved);
        }
    }
    if (m_right > m_max) {
        m_right = m_max;
        notify(kRightMoved);
        if (m_right < m_left) {
            m_left = m_right;
            notify(kLeftMoved);
        }
    }
}

// A zero-width scale, or a control too small to have a track, has no value per pixel: drags
// then put both thumbs at min and the keys do nothing.
double RangeSliderModel::valuePerPixel() const
{
    if (m_trackWidth <= 0) return 0;
    return (m_max - m_min) / m_trackWidth;
}

int RangeSliderModel::pixelOf(double value) const
{
    if (m_max == m_min) return 0;
    return static_cast<int>(m_trackWidth * (value - m_min) / (m_max - m_min) + 0.5);
}

int RangeSliderModel::leftThumbStart() const
{
    return pixelOf(m_left);
}

int RangeSliderModel::rightThumbStart() const
{
    return pixelOf(m_right) + m_arrowWidth;
}

bool RangeSliderModel::press(int position)
{
    if (m_dragging) return false;
    const int leftStart = leftThumbStart();
    const int rightStart = rightThumbStart();
    int middle = 0;
    if (position >= leftStart && position < leftStart + m_arrowWidth) {
        m_target = DragTarget::LeftThumb;
        middle = leftStart + m_arrowWidth / 2;
    } else if (position >= rightStart && position < rightStart + m_arrowWidth) {
        m_target = DragTarget::RightThumb;
        middle = rightStart + m_arrowWidth / 2;
    } else if (position >= leftStart + m_arrowWidth + 1 && position < rightStart - 1) {
        // The band runs from one pixel right of the left thumb to one pixel left of the right one.
        m_target = DragTarget::Band;
        middle = (leftStart + m_arrowWidth + 1 + rightStart - 1) / 2;
    } else {
        return false;
    }
    m_dragOffset = position - middle;
    m_dragging = true;
    return true;
}

void RangeSliderModel::drag(int position)
{
    if (!m_dragging) return;
    const double a = position - m_dragOffset;
    const double s = valuePerPixel();
    switch (m_target) {
    case DragTarget::LeftThumb: {
        const double value = m_min + (a - m_arrowWidth / 2) * s;
        m_left = std::max(std::min(value, m_right), m_min);
        notify(kLeftMoved);
        break;
    }
    case DragTarget::RightThumb: {
        const double value = std::min(std::max(m_min + (a - 3 * m_arrowWidth / 2) * s, m_left), m_max);
        const bool changed = value != m_right;
        m_right = value;
        notify(changed ? kRightMoved : kLeftMoved);
        break;
    }
    case DragTarget::Band: {
        const double width = m_right - m_left;
        const double centre = m_min + (a - m_arrowWidth) * s;
        m_left = centre - width / 2;
        m_right = centre + width / 2;
        // Against either end the band stops and keeps its width.
        if (m_left <= m_min) {
            m_left = m_min;
            m_right = m_min + width;
        }
        if (m_right >= m_max) {
            m_right = m_max;
            m_left = m_max - width;
        }
        notify(kBothMoved);
        break;
    }
    }
}

bool RangeSliderModel::key(Key key, bool shift, bool control)
{
    if (control || m_max == m_min) return false;
    const double s = valuePerPixel();
    if (s <= 0) return false;
    int leftPixel = static_cast<int>((m_left - m_min) / s + 0.5);
    int rightPixel = static_cast<int>((m_right - m_min) / s + 0.5);
    const int step = key == Key::Forward ? 1 : -1;
    rightPixel += step;
    if (!shift) leftPixel += step;
    // Besides staying on the track, the right thumb may not pass the left one (Shift+Left at a
    // band of one pixel would otherwise turn the range around).
    if (leftPixel < 0 || rightPixel > m_trackWidth || leftPixel > rightPixel) return false;
    m_left = m_min + leftPixel * s;
    m_right = m_min + rightPixel * s;
    notify(shift ? kLeftMoved : kBothMoved);
    return true;
}

void RangeSliderModel::notify(int what)
{
    if (m_notify) m_notify(what);
}

}  // namespace kfr::ui
