#pragma once

#include <QString>

#include <memory>

// The standard dialogs the program asks its questions with. The windows provide the real ones;
// tests provide scripted ones. Texts are passed exactly as the user is to read them, line
// breaks as CR LF.
class Dialogs
{
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Information };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    // An input box; an empty text when the user cancels.
    virtual QString inputBox(const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;
    // A message box; with no title it carries the application's title.
    virtual Answer messageBox(const QString& text, Buttons buttons = Buttons::Ok,
                              Icon icon = Icon::None, const QString& title = {}) = 0;
    // The name of an existing file to open, filter as "Kind (*.ext);;All files (*)"; an empty
    // text when the user cancels. Without a chooser of its own, an input box asks for it.
    virtual QString openFileName(const QString& title, const QString& filter)
    {
        Q_UNUSED(filter);
        return inputBox(QStringLiteral("Enter File Name:"), title, {});
    }
    // Shows that a longer operation is under way (a busy cursor) or has ended.
    virtual void setBusy(bool busy) = 0;

    // How far a long operation has got, with a Cancel button; shown while the object lives.
    class Progress
    {
    public:
        virtual ~Progress() = default;
        virtual void setValue(qint64 done, const QString& text) = 0;
        virtual bool wasCanceled() const = 0;
    };
    // Without one of its own, the operation runs to its end with only the busy cursor.
    virtual std::unique_ptr<Progress> showProgress(const QString& title, const QString& text,
                                                   qint64 total)
    {
        Q_UNUSED(title);
        Q_UNUSED(text);
        Q_UNUSED(total);
        return nullptr;
    }

    static QString applicationTitle() { return QStringLiteral("Kinto Sniffer"); }
    static QString titleOrDefault(const QString& title)
    {
        return title.isEmpty() ? applicationTitle() : title;
    }
};
