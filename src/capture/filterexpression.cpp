#include "filterexpression.h"

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// What may stand beside a number word: anything but the characters of names, addresses and
// hexadecimal numbers ("0x1f", "10.0.0.1", "eth0").
bool endsWord(const QString& text, qsizetype i)
{
    if (i < 0 || i >= text.size())
        return true;
    const QChar c = text[i];
    return !(c.isLetterOrNumber() || c == u'.' || c == u':' || c == u'_' || c == u'-');
}

} // namespace

namespace FilterExpression {

QString decimalNumbers(const QString& expression)
{
    QString out;
    out.reserve(expression.size());
    qsizetype i = 0;
    while (i < expression.size()) {
        qsizetype end = i;
        while (end < expression.size() && isDigit(expression[end]))
            ++end;
        if (end > i && endsWord(expression, i - 1) && endsWord(expression, end)) {
            qsizetype first = i;
            while (first + 1 < end && expression[first] == u'0')
                ++first;
            out += QStringView(expression).sliced(first, end - first);
            i = end;
        } else {
            const qsizetype stop = std::max(end, i + 1);
            out += QStringView(expression).sliced(i, stop - i);
            i = stop;
        }
    }
    return out;
}

} // namespace FilterExpression
