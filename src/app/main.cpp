#include "mainwindow.h"
#include "pcapcapture.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kintosniffer"));
    QApplication::setApplicationVersion(QStringLiteral(KINTO_VERSION_TEXT));

    MainWindow window(std::make_unique<PcapCapture>());
    window.Form_Load();
    return app.exec();
}
