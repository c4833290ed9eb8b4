#include "capturingwindow.h"

#include "loopback.h"
#include "mainwindow.h"
#include "pcapcapture.h"
#include "scripteddialogs.h"

#include <QAction>

CapturingWindow::CapturingWindow(const QString& helper)
{
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_dialogs->pressOk(); // no adapter here names the packet scheduler
    m_window = std::make_unique<MainWindow>(std::make_unique<PcapCapture>(nullptr, helper),
                                            std::move(dialogs));
    m_probe = std::make_unique<WindowProbe>(*m_window);
    m_window->Form_Load();
}

CapturingWindow::~CapturingWindow() = default;

QString CapturingWindow::start(const QString& adapter, const QString& port)
{
    const int index = adapterIndex(m_window->component(), adapter);
    if (index < 0)
        return QStringLiteral("the capture component does not list ") + adapter;
    m_probe->setPort(port);
    m_probe->chooseInCombo(index);
    const qsizetype shownBefore = m_dialogs->shown.size();
    m_probe->action("CaptureStart")->trigger();
    if (m_probe->state() == CaptureState::Running)
        return {};
    return m_dialogs->shown.size() > shownBefore ? m_dialogs->shown.last().text
                                                 : QStringLiteral("capture did not start");
}
