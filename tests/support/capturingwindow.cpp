#include "capturingwindow.h"

#include "capturecomponent.h"
#include "capturecontroller.h"
#include "mainwindow.h"
#include "pcapcapture.h"
#include "scripteddialogs.h"

#include <QLabel>

CapturingWindow::CapturingWindow()
{
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_dialogs->pressOk(); // no adapter here names the packet scheduler
    m_window = std::make_unique<MainWindow>(std::make_unique<PcapCapture>(), std::move(dialogs));
    m_window->Form_Load();
}

CapturingWindow::~CapturingWindow() = default;

QString CapturingWindow::start(const QString& adapter, const QString& port)
{
    const QList<CaptureAdapter> adapters = m_window->component().adapters();
    int index = -1;
    for (int i = 0; i < adapters.size() && index < 0; ++i) {
        if (adapters[i].name == adapter)
            index = i;
    }
    if (index < 0)
        return QStringLiteral("the capture component does not list ") + adapter;
    m_window->setPortText(port);
    m_window->controller().combo1_Click(index);
    const qsizetype shownBefore = m_dialogs->shown.size();
    if (!m_window->controller().CaptureStart_Click())
        return m_dialogs->shown.size() > shownBefore ? m_dialogs->shown.last().text
                                                     : QStringLiteral("capture did not start");
    return {};
}

QString CapturingWindow::panel(int number) const
{
    const auto* label = m_window->findChild<QLabel*>(QStringLiteral("panel%1").arg(number));
    return label ? label->text() : QStringLiteral("<no panel %1>").arg(number);
}
