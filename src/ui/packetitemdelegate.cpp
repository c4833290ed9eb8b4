#include "packetitemdelegate.h"

QString PacketItemDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
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
    QStyledItemDelegate::initStyleOption(option, index);
    // A packet can carry 65,000 characters, and laying them all out to elide them took seconds
    // per paint, for a cell that shows a few hundred. No glyph is narrower than a pixel, so the
    // characters beyond the cell's width in pixels can never be seen.
    const qsizetype visible = qsizetype(option->rect.width()) + 1;
    if (option->rect.width() > 0 && option->text.size() > visible)
        option->text.truncate(visible);
}
