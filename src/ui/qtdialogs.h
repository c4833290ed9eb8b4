#pragma once

#include "dialogs.h"

#include <QPointer>
#include <QWidget>

// The program's questions as Qt's standard dialogs, modal over the given window.
class QtDialogs : public Dialogs
{
public:
    explicit QtDialogs(QWidget* parent = nullptr);
    ~QtDialogs() override;

    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    Answer messageBox(const QString& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                      const QString& title = {}) override;
    QString openFileName(const QString& title, const QString& filter) override;
    void setBusy(bool busy) override;
    std::unique_ptr<Progress> showProgress(const QString& title, const QString& text,
                                           qint64 total) override;

private:
    QPointer<QWidget> m_parent;
    int m_busy = 0;
};
