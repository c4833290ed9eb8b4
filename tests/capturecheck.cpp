// Starts a capture on the loopback adapter the way the program does and says on stdout how it
// went: the component's message when it refuses, or "captured" once a datagram sent to the
// watched port has arrived. Tests run it under another user and with chosen capabilities.
#include "capturecomponent.h"
#include "loopback.h"
#include "pcapcapture.h"
#include "udpsender.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString& text)
{
    std::fputs(text.toLocal8Bit().append('\n').constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    PcapCapture capture;
    capture.setAdapter(adapterIndex(capture, QStringLiteral("lo")));
    const quint16 port = UdpSender::freePort();
    capture.setFilter(QStringLiteral("port %1").arg(port));
    const QString error = capture.start();
    if (!error.isEmpty()) {
        say(error);
        return 1;
    }
    QObject::connect(&capture, &CaptureComponent::packetsCaptured, &app, [] {
        say(QStringLiteral("captured"));
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(10000, &app, [] {
        say(QStringLiteral("capture started, but nothing arrived"));
        QCoreApplication::exit(2);
    });
    UdpSender sender;
    sender.send(port, "***[capture check]");
    return app.exec();
}
