#pragma once

#include <QString>

namespace FilterExpression {

// libpcap reads a number with a leading zero as octal ("port 04111" is port 2121), while the
// port a person types is decimal. Every word made of digits alone loses its leading zeros;
// everything else stays as typed.
QString decimalNumbers(const QString& expression);

} // namespace FilterExpression
