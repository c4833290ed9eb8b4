#include "benchdialogs.h"

QString BenchDialogs::inputBox(const QString& prompt, const QString& title, const QString&)
{
    if (title == u"Save log as ..." || title == u"Save capture as ...")
        return m_logFileName;
    m_unexpected.append(title + QStringLiteral(": ") + prompt);
    return {};
}

Dialogs::Answer BenchDialogs::messageBox(const QString& text, Buttons buttons, Icon, const QString&)
{
    if (text == u"Are you sure?")
        return Answer::Yes;
    if (text != u"Select adapter from list")
        m_unexpected.append(text);
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}
