#include "packetitemdelegate.h"

#include "packetlistmodel.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace {

// Beyond this many different texts the kept layouts are dropped and gathered anew.
constexpr int KeptTexts = 256;

QStyle* styleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

QPalette::ColorGroup colorGroup(const QStyleOptionViewItem& option)
{
    if (!(option.state & QStyle::State_Enabled))
        return QPalette::Disabled;
    return option.state & QStyle::State_Active ? QPalette::Normal : QPalette::Inactive;
}

} // namespace

QString PacketItemDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    // The base class turns '\n' into a line separator, which would still break the line, so
    // the row's own text is taken before it gets there.
    if (value.typeId() != QMetaType::QString)
        return QStyledItemDelegate::displayText(value, locale);
    QString text = value.toString();
    if (text.contains(u'\r') || text.contains(u'\n')) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral(u"\u21B5"));
        text.replace(u'\r', u' ');
        text.replace(u'\n', u' ');
    }
    return text;
}

void PacketItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const
{
    // The list's model answers only with texts. The general filling in asks it eight more
    // questions per cell (font, colours, alignment, check state...), each answered with an
    // empty QVariant, and that was a quarter of a burst's painting.
    option->index = index;
    const QVariant value = index.data(Qt::DisplayRole);
    if (value.isValid()) {
        option->features |= QStyleOptionViewItem::HasDisplay;
        option->text = displayText(value, option->locale);
    }
    // A packet can carry 65,000 characters, and laying them all out to elide them took seconds
    // per paint, for a cell that shows a few hundred. No glyph is narrower than a pixel, so the
    // characters beyond the cell's width in pixels can never be seen.
    const qsizetype visible = qsizetype(option->rect.width()) + 1;
    if (option->rect.width() > 0 && option->text.size() > visible)
        option->text.truncate(visible);
}

void PacketItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QStyle* style = styleOf(opt);
    if (opt.state & QStyle::State_Selected || opt.backgroundBrush.style() != Qt::NoBrush)
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, opt.widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    const QRect rect = opt.rect.adjusted(margin, 0, -margin, 0);
    const int column = index.column();
    const bool repeats = column == PacketListModel::Date || column == PacketListModel::Size ||
                         column == PacketListModel::Type;
    // The painter is left with the cell's font and pen rather than saved and restored around
    // each of the hundred cells of a paint: the next cell sets its own, and the list's painter
    // draws nothing else.
    const QColor color = opt.palette.color(colorGroup(opt), opt.state & QStyle::State_Selected
                                                                ? QPalette::HighlightedText
                                                                : QPalette::Text);
    if (painter->font() != opt.font)
        painter->setFont(opt.font);
    if (painter->pen().color() != color) // text takes only its pen's colour
        painter->setPen(color);
    drawText(painter, opt, rect, repeats);

    if (opt.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(opt);
        focus.rect = opt.rect;
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor = opt.palette.color(
            colorGroup(opt),
            opt.state & QStyle::State_Selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, opt.widget);
    }
}

// Measuring a text lays it out as drawing it does again; a text too short to reach the edge
// even in the font's widest glyphs is drawn without. Row numbers are digits, all of a width,
// measured once per font.
bool PacketItemDelegate::surelyFits(const QStyleOptionViewItem& option, int width) const
{
    const QString& text = option.text;
    const bool digits = std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
    if (!digits)
        return qint64(text.size()) * option.fontMetrics.maxWidth() <= width;
    if (m_widestDigit < 0 || option.font != m_digitFont) {
        m_digitFont = option.font;
        m_widestDigit = 0;
        for (QChar digit : QStringView(u"0123456789"))
            m_widestDigit = std::max(m_widestDigit, option.fontMetrics.horizontalAdvance(digit));
    }
    return qint64(text.size()) * m_widestDigit <= width;
}

void PacketItemDelegate::drawText(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QRect& rect, bool repeats) const
{
    const QFontMetrics& metrics = option.fontMetrics;
    const int top = rect.top() + (rect.height() - metrics.height()) / 2;
    if (repeats) {
        auto kept = m_laidOut.find(option.text);
        if (kept == m_laidOut.end()) {
            if (m_laidOut.size() >= KeptTexts)
                m_laidOut.clear();
            QStaticText text(option.text);
            text.setTextFormat(Qt::PlainText);
            text.prepare(painter->transform(), option.font);
            kept = m_laidOut.insert(option.text, text);
        }
        if (kept->size().width() <= rect.width()) {
            painter->drawStaticText(rect.left(), top, *kept);
            return;
        }
    } else if (surelyFits(option, rect.width()) ||
               metrics.horizontalAdvance(option.text) <= rect.width()) {
        painter->drawText(QPoint(rect.left(), top + metrics.ascent()), option.text);
        return;
    }
    painter->drawText(QPoint(rect.left(), top + metrics.ascent()),
                      metrics.elidedText(option.text, option.textElideMode, rect.width()));
}
