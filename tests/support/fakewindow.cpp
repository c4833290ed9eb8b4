#include "fakewindow.h"

FakeWindow::FakeWindow(const QStringList& adapters, Load load)
    : capture(new FakeCapture(adapters)), dialogs(new ScriptedDialogs),
      window(std::unique_ptr<CaptureComponent>(capture), std::unique_ptr<Dialogs>(dialogs))
{
    if (load == Load::AnswerAdapter)
        dialogs->pressOk();
    if (load != Load::Later)
        window.Form_Load();
}

void FakeWindow::arrive(int count)
{
    QList<Packet> packets;
    for (int i = 0; i < count; ++i)
        packets.append(Packet{1765000000000000, 50, "***[Hi]"});
    capture->deliver(packets);
}
