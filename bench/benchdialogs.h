#pragma once

#include "dialogs.h"

#include <QStringList>

// Answers the window's questions the way a user running the benchmark would: picks the adapter
// itself after "Select adapter from list", saves the log under the given name, confirms Clear
// List. Any other message is kept, so that a failure reaches the report.
class BenchDialogs : public Dialogs
{
public:
    void setLogFileName(const QString& fileName) { m_logFileName = fileName; }
    QStringList unexpectedMessages() const { return m_unexpected; }

    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    Answer messageBox(const QString& text, Buttons buttons, Icon icon,
                      const QString& title) override;
    void setBusy(bool) override {}

private:
    QString m_logFileName;
    QStringList m_unexpected;
};
