#pragma once

#include <QScrollBar>

// The packet list's vertical bar. A burst changes its range many times a second while it looks
// the same (at the bottom of a long list the slider neither moves nor shrinks by a pixel), and
// the style's drawing of it took a tenth of the window's time: it is drawn again only when what
// it shows differs from what it last drew. The list changes the range and then the value, and
// the slider leaves the end in between, so the look is compared once both are done.
class RowScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    explicit RowScrollBar(QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look
    {
        QRect slider;
        bool atMinimum = false; // the style greys the arrow of an end that is reached
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    void drawIfChanged();

    Look m_drawn;
    bool m_hasDrawn = false;
    bool m_checkPosted = false;
};
