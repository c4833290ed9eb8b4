#pragma once

#include <QStyledItemDelegate>

// Draws a row on one line: a line break inside a message shows as a return symbol instead of
// splitting the row's text over two clipped lines. The row's text itself keeps the CR LF.
class PacketItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
};
