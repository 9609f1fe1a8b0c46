// The state and arithmetic of the two-thumb sector range slider, apart from any window: the
// scale and the range (stored negated when the slider is inverted), the pixel layout along the
// slider's axis, mouse drags of either thumb or of the band between them, and the arrow keys.
// Every change made here is reported through the notify callback with what moved.
#pragma once

#include <functional>
#include <utility>

namespace kfr::ui {

class RangeSliderModel {
public:
    // What a notification says moved.
    static constexpr int kLeftMoved = 0;
    static constexpr int kRightMoved = 1;
    static constexpr int kBothMoved = 2;

    enum class DragTarget { LeftThumb = 0, RightThumb = 1, Band = 2 };
    enum class Key { Forward, Backward };  // Right/Down and Left/Up

    using Notify = std::function<void(int what)>;
    void setNotify(Notify notify) { m_notify = std::move(notify); }

    // The control's client size in pixels. The thumbs are three quarters of the cross size wide;
    // what is left of the length after both thumbs is the track.
    void setClientSize(int width, int height);
    void setHorizontal(bool horizontal) { m_horizontal = horizontal; }
    bool horizontal() const { return m_horizontal; }
    // Runs the scale the other way: every value is stored negated.
    void setInverted(bool inverted) { m_inverted = inverted; }
    bool inverted() const { return m_inverted; }

    // min above max is swapped. The thumbs are then brought inside the scale.
    void setScale(double min, double max);
    // Stored as given (a program's own call; left above right is swapped); the thumbs are then
    // brought inside the scale.
    void setRange(double left, double right);
    std::pair<double, double> range() const;
    std::pair<double, double> scale() const;

    // --- Pixel layout along the axis (stored values) ---
    int arrowWidth() const { return m_arrowWidth; }
    int trackWidth() const { return m_trackWidth; }
    int lengthPixels() const { return m_horizontal ? m_width : m_height; }
    int crossPixels() const { return m_horizontal ? m_height : m_width; }
    // Where the left thumb begins, and where the right thumb begins (one arrow width after the
    // position of the right value).
    int leftThumbStart() const;
    int rightThumbStart() const;

    // --- Mouse, positions along the axis ---
    // A press on a thumb or the band starts its drag; false when it hit nothing or a drag runs.
    bool press(int position);
    void drag(int position);
    void release() { m_dragging = false; }
    bool dragging() const { return m_dragging; }
    DragTarget dragTarget() const { return m_target; }

    // --- Keyboard: one pixel's worth of value per press ---
    // Ignored with Control held and on a zero-width scale. Without Shift both thumbs move and
    // the notification says both; with Shift only the right thumb moves.
    bool key(Key key, bool shift, bool control);

    // Stored values (negated when inverted), for painting and tests.
    double storedMin() const { return m_min; }
    double storedMax() const { return m_max; }
    double storedLeft() const { return m_left; }
    double storedRight() const { return m_right; }

private:
    void bringInsideScale();
    double valuePerPixel() const;
    int pixelOf(double value) const;
    void notify(int what);

    double m_min = 0;
    double m_max = 1;
    double m_left = 0;
    double m_right = 1;
    int m_arrowWidth = 10;
    bool m_horizontal = true;
    bool m_inverted = false;
    bool m_dragging = false;
    DragTarget m_target = DragTarget::LeftThumb;
    int m_trackWidth = 0;
    int m_dragOffset = 0;
    int m_width = 0;
    int m_height = 0;
    Notify m_notify;
};

}  // namespace kfr::ui
