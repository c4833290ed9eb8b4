#include "mainwindow.h"
#include "pcapcapture.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The program reads no command line: Qt gets only the program's name, so that options such
    // as -style or -reverse typed after it change nothing.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("kintosniffer"));
    QApplication::setApplicationVersion(QStringLiteral(KINTO_VERSION_TEXT));

    MainWindow window(std::make_unique<PcapCapture>());
    window.Form_Load();
    return app.exec();
}
