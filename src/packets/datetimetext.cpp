#include "datetimetext.h"

#include <QDateTime>

#include <limits>

namespace {

// The locale's long time format names the time zone ("t"); the list has no room for it.
QString withoutTimeZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            out += c;
    }
    return out.simplified();
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

DateTimeText::DateTimeText(const QLocale& locale)
    : m_locale(locale), m_format(locale.dateFormat(QLocale::ShortFormat) + u' ' +
                                 withoutTimeZone(locale.timeFormat(QLocale::LongFormat))),
      m_cachedSecond(std::numeric_limits<qint64>::min())
{}

QString DateTimeText::text(qint64 timeUs) const
{
    const qint64 second = floorDiv(timeUs, 1000000);
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        m_cachedText = m_locale.toString(QDateTime::fromSecsSinceEpoch(second), m_format);
    }
    return m_cachedText;
}
