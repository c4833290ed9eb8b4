#include "benchreport.h"

#include <QJsonArray>
#include <QJsonDocument>

void BenchReport::add(const QString& key, qint64 value)
{
    m_figures.append({key, QString::number(value), true});
}

void BenchReport::add(const QString& key, double value, int decimals)
{
    m_figures.append({key, QString::number(value, 'f', decimals), true});
}

void BenchReport::addText(const QString& key, const QString& value)
{
    m_figures.append({key, value, false});
}

QString BenchReport::line() const
{
    QStringList pairs;
    for (const Figure& f : m_figures) {
        QString value = f.value;
        pairs.append(f.key + u'=' + value.replace(u' ', u'_'));
    }
    return pairs.join(u' ');
}

QByteArray BenchReport::json() const
{
    // Written by hand to keep the order in which the figures were taken.
    QByteArray out = "{\n";
    for (qsizetype i = 0; i < m_figures.size(); ++i) {
        const Figure& f = m_figures[i];
        const QByteArray value = f.number ? f.value.toUtf8()
                                          : QJsonDocument(QJsonArray{f.value})
                                                .toJson(QJsonDocument::Compact)
                                                .mid(1)
                                                .chopped(1);
        out += "  \"" + f.key.toUtf8() + "\": " + value + (i + 1 < m_figures.size() ? ",\n" : "\n");
    }
    return out + "}\n";
}
