#include "packetitemdelegate.h"

QString PacketItemDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    QString text = QStyledItemDelegate::displayText(value, locale);
    if (text.contains(u'\r') || text.contains(u'\n')) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral(u"\u21B5"));
        text.replace(u'\r', u' ');
        text.replace(u'\n', u' ');
    }
    return text;
}
