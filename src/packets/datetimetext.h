#pragma once

#include <QLocale>
#include <QString>

// Capture times as the user's locale writes a date and a time, to the second. Packets come in
// bursts within the same second, so the text of the last second is kept and reused.
class DateTimeText
{
public:
    explicit DateTimeText(const QLocale& locale = QLocale::system());

    QString text(qint64 timeUs) const;

private:
    QLocale m_locale;
    QString m_format;
    mutable qint64 m_cachedSecond;
    mutable QString m_cachedText;
};
