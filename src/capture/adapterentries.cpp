#include "adapterentries.h"

namespace {

// Spaces only: a tab or line break in a description stays.
QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.sliced(first, last - first);
}

QString numbered(int number, const QString& text)
{
    return u'(' + QString::number(number) + QStringLiteral(") ") + text;
}

} // namespace

namespace AdapterEntries {

QString list1Entry(int number, const QString& description)
{
    return numbered(number, trimSpaces(description));
}

QString comboEntry(int number, const QString& description)
{
    QString text = trimSpaces(description);
    text.replace(QStringLiteral("  "), QStringLiteral(" "));
    text.replace(QStringLiteral("   "), QStringLiteral(" "));
    text.replace(QStringLiteral("  "), QStringLiteral(" "));
    return numbered(number, text);
}

} // namespace AdapterEntries
