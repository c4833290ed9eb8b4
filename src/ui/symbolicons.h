#pragma once

#include <QIcon>

// The play triangle and stop square of the start and stop buttons, drawn here so that they look
// the same on every desktop, whatever symbol fonts it has.
namespace SymbolIcons {

QIcon play();
QIcon stop();

} // namespace SymbolIcons
