#pragma once

#include <QString>

// The texts of the two adapter lists. Entry k of either list stands for adapter k + 1.
namespace AdapterEntries {

// "(i) " and the description without leading and trailing spaces.
QString list1Entry(int number, const QString& description);
// The same, with runs of spaces shortened by three fixed replacements (not always to one).
QString comboEntry(int number, const QString& description);

} // namespace AdapterEntries
