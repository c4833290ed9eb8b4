#include "mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kintosniffer"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kinto Sniffer"));
    QApplication::setApplicationVersion(QStringLiteral(KINTO_VERSION_TEXT));
    MainWindow window;
    window.show();
    return app.exec();
}
