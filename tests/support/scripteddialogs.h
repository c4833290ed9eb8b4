#pragma once

#include "dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

// Dialogs for tests: every dialog shown is recorded, and each is answered by the next scripted
// answer. A dialog that the script does not expect (none left, or one of the other kind) is
// recorded as a problem and gets the harmless answer: an empty text, No, or OK.
class ScriptedDialogs : public Dialogs
{
public:
    enum class Kind { Input, Message };

    struct Shown
    {
        Kind kind;
        QString title; // as the user sees it, the application title when none was given
        QString text;  // the prompt of an input box, the text of a message box
        QString defaultText;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
        bool busy = false; // whether a busy cursor was showing at the time
    };

    // Script the answers, in the order the dialogs are expected.
    void typeText(const QString& text);
    void cancelInput() { typeText({}); }
    void pressOk();
    void answerYes();
    void answerNo();
    // The next progress shown is cancelled at once. Unscripted, a progress runs to its end and
    // is not counted among the dialogs shown: whether one shows depends on the machine's speed.
    void cancelProgress() { m_cancelProgress = true; }

    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    Answer messageBox(const QString& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                      const QString& title = {}) override;
    void setBusy(bool busy) override;
    std::unique_ptr<Progress> showProgress(const QString& title, const QString& text,
                                           qint64 total) override;

    // Dialogs the script did not expect and scripted answers never used; empty when the
    // dialogs went exactly as scripted.
    QString problems() const;
    bool busy() const { return m_busyDepth > 0; }

    QList<Shown> shown;
    QList<bool> busyCalls;
    QStringList progressTitles; // every progress shown

private:
    struct Reply
    {
        Kind kind;
        QString text;
        Answer answer = Answer::Ok;
    };
    bool takeReply(Kind kind, Reply* reply);
    QString describe(const Shown& dialog) const;

    QList<Reply> m_script;
    QStringList m_unexpected;
    int m_busyDepth = 0;
    bool m_cancelProgress = false;
};
