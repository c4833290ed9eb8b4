#include "mainwindow.h"
#include "pcapcapture.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

#include <csignal>

int main(int argc, char* argv[])
{
    // The one argument is a capture file to list. Qt gets only the program's name, so that
    // options such as -style or -reverse change nothing.
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: %s [CAPTURE-FILE]\n", argc > 0 ? argv[0] : "kintosniffer");
        return 2;
    }
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    // A file-size limit (ulimit -f) is a limit: writes past it fail with EFBIG, which the list's
    // store and the log writer report, instead of the kernel ending the program with every row.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("kintosniffer"));
    QApplication::setApplicationVersion(QStringLiteral(KINTO_VERSION_TEXT));

    MainWindow window(std::make_unique<PcapCapture>());
    window.Form_Load(argc == 2 ? QFile::decodeName(argv[1]) : QString());
    return app.exec();
}
