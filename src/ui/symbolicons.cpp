#include "symbolicons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

QIcon drawn(const std::function<QPainterPath(qreal)>& shape)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(shape(size), Qt::black);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

namespace SymbolIcons {

QIcon play()
{
    return drawn([](qreal s) {
        QPainterPath path;
        path.moveTo(s * 0.25, s * 0.15);
        path.lineTo(s * 0.85, s * 0.5);
        path.lineTo(s * 0.25, s * 0.85);
        path.closeSubpath();
        return path;
    });
}

QIcon stop()
{
    return drawn([](qreal s) {
        QPainterPath path;
        path.addRect(s * 0.22, s * 0.22, s * 0.56, s * 0.56);
        return path;
    });
}

} // namespace SymbolIcons
