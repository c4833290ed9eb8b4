#include "scripteddialogs.h"

void ScriptedDialogs::typeText(const QString& text)
{
    m_script.append({Kind::Input, text});
}

void ScriptedDialogs::pressOk()
{
    m_script.append({Kind::Message, {}, Answer::Ok});
}

void ScriptedDialogs::answerYes()
{
    m_script.append({Kind::Message, {}, Answer::Yes});
}

void ScriptedDialogs::answerNo()
{
    m_script.append({Kind::Message, {}, Answer::No});
}

bool ScriptedDialogs::takeReply(Kind kind, Reply* reply)
{
    if (m_script.isEmpty() || m_script.first().kind != kind) {
        m_unexpected.append(describe(shown.last()));
        return false;
    }
    *reply = m_script.takeFirst();
    return true;
}

QString ScriptedDialogs::inputBox(const QString& prompt, const QString& title,
                                  const QString& defaultText)
{
    shown.append(
        {Kind::Input, titleOrDefault(title), prompt, defaultText, Buttons::Ok, Icon::None, busy()});
    Reply reply;
    return takeReply(Kind::Input, &reply) ? reply.text : QString();
}

Dialogs::Answer ScriptedDialogs::messageBox(const QString& text, Buttons buttons, Icon icon,
                                            const QString& title)
{
    shown.append({Kind::Message, titleOrDefault(title), text, {}, buttons, icon, busy()});
    const Answer harmless = buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    Reply reply;
    if (!takeReply(Kind::Message, &reply))
        return harmless;
    const bool fits = (buttons == Buttons::YesNo) == (reply.answer != Answer::Ok);
    if (!fits) {
        m_unexpected.append(QStringLiteral("scripted answer does not fit: ") +
                            describe(shown.last()));
        return harmless;
    }
    return reply.answer;
}

void ScriptedDialogs::setBusy(bool busy)
{
    busyCalls.append(busy);
    m_busyDepth += busy ? 1 : -1;
}

namespace {

class ScriptedProgress : public Dialogs::Progress
{
public:
    explicit ScriptedProgress(bool canceled) : m_canceled(canceled) {}
    void setValue(qint64, const QString&) override {}
    bool wasCanceled() const override { return m_canceled; }

private:
    bool m_canceled;
};

} // namespace

std::unique_ptr<Dialogs::Progress> ScriptedDialogs::showProgress(const QString& title,
                                                                 const QString&, qint64)
{
    progressTitles.append(title);
    return std::make_unique<ScriptedProgress>(std::exchange(m_cancelProgress, false));
}

QString ScriptedDialogs::describe(const Shown& dialog) const
{
    const QString kind = dialog.kind == Kind::Input         ? QStringLiteral("input box")
                         : dialog.buttons == Buttons::YesNo ? QStringLiteral("Yes/No box")
                                                            : QStringLiteral("OK box");
    return QStringLiteral("%1 \"%2\": \"%3\"").arg(kind, dialog.title, dialog.text);
}

QString ScriptedDialogs::problems() const
{
    QStringList all;
    for (const QString& dialog : m_unexpected)
        all.append(QStringLiteral("unexpected ") + dialog);
    for (const Reply& reply : m_script)
        all.append(reply.kind == Kind::Input
                       ? QStringLiteral("unused input answer \"%1\"").arg(reply.text)
                       : QStringLiteral("unused message box answer"));
    if (m_cancelProgress)
        all.append(QStringLiteral("no progress shown to cancel"));
    if (m_busyDepth != 0)
        all.append(QStringLiteral("busy cursor left at depth %1").arg(m_busyDepth));
    return all.join(QStringLiteral("; "));
}
