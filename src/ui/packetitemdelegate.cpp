#include "packetitemdelegate.h"

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
