#include "rowscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

#include <utility>

RowScrollBar::RowScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

RowScrollBar::Look RowScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void RowScrollBar::sliderChange(SliderChange change)
{
    if (!m_hasDrawn || !isVisible()) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (!std::exchange(m_checkPosted, true))
        QMetaObject::invokeMethod(this, &RowScrollBar::drawIfChanged, Qt::QueuedConnection);
}

void RowScrollBar::drawIfChanged()
{
    m_checkPosted = false;
    // A paint already asked for draws the latest state, whatever it is by then.
    if (look() != m_drawn)
        update();
}

void RowScrollBar::paintEvent(QPaintEvent* event)
{
    m_drawn = look();
    m_hasDrawn = true;
    QScrollBar::paintEvent(event);
}
