#pragma once

#include <QByteArray>
#include <QString>

// The whole content of a file, or "<unreadable>" when it cannot be opened.
QByteArray readAll(const QString& fileName);

// Creates or overwrites a file; false when it cannot be written whole.
bool writeFile(const QString& fileName, const QByteArray& content);
