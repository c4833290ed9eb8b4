#pragma once

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

// Draws a row on one line: a line break inside a message shows as a return symbol instead of
// splitting the row's text over two clipped lines. The row's text itself keeps the CR LF.
//
// It also draws cells more cheaply than the style's general item drawing, which lays every
// text out three times (to size it, to elide it, to draw it): a burst repaints the list many
// times a second, and that layout work was most of the window's CPU time. Texts that repeat
// from row to row (type, date, size) are laid out once and kept.
class PacketItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void drawText(QPainter* painter, const QStyleOptionViewItem& option, const QRect& rect,
                  bool repeats) const;
    bool surelyFits(const QStyleOptionViewItem& option, int width) const;

    mutable QHash<QString, QStaticText> m_laidOut; // texts that repeat, as drawn before
    mutable QFont m_digitFont;                     // the font m_widestDigit was measured in
    mutable int m_widestDigit = -1;
};
