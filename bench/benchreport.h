#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The benchmark's figures in the order they were taken: one key=value line for people and
// scripts, and the same figures as a JSON object.
class BenchReport
{
public:
    void add(const QString& key, qint64 value);
    void add(const QString& key, double value, int decimals);
    void addText(const QString& key, const QString& value);

    QString line() const;
    QByteArray json() const;

private:
    struct Figure
    {
        QString key;
        QString value;
        bool number;
    };
    QList<Figure> m_figures;
};
