#include "portchange.h"

#include "capturecontroller.h"
#include "captureview.h"
#include "dialogs.h"

namespace {
const QString Title = QStringLiteral("Change UDP Port");
}

PortChange::PortChange(CaptureView& view, CaptureController& controller, Dialogs& dialogs)
    : m_view(view), m_controller(controller), m_dialogs(dialogs)
{}

double PortChange::numericValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        sign = text[i++] == u'-' ? -1 : 1;
    double value = 0;
    for (; i < text.size() && text[i].isDigit() && text[i] < u'\x80'; ++i)
        value = value * 10 + (text[i].unicode() - '0');
    if (i < text.size() && text[i] == u'.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, scale /= 10)
            value += (text[i].unicode() - '0') * scale;
    }
    return sign * value;
}

void PortChange::changeport_Click()
{
    const QString current = m_view.portText();
    const QString input = m_dialogs.inputBox(
        QStringLiteral("Enter New Port Number:\r\nCurrent Port: ") + current, Title, current);
    if (input.isEmpty() || input == current)
        return;
    const double value = numericValue(input);
    if (value < LowestPort || value > HighestPort) {
        m_dialogs.messageBox(QStringLiteral("Invalid Port"), Dialogs::Buttons::Ok,
                             Dialogs::Icon::Information, Title);
        return;
    }

    m_view.setPortText(input);
    if (m_view.captureState() == CaptureState::NoAdapter) {
        // No adapter has a filter to set yet: keep the port for when one is chosen.
        m_view.setPortPanel(QStringLiteral("Port: ") + input);
        m_dialogs.messageBox(QStringLiteral("Select adapter from list"));
        return;
    }
    m_controller.stopAndOfferLog();
    m_controller.applyFilter();
    m_view.setCaptureState(CaptureState::Ready);
    m_controller.CaptureStart_Click();
}
