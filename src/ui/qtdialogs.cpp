#include "qtdialogs.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {

// The texts carry CR LF, as they are written for the user; Qt breaks lines at LF alone.
QString shownText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

QtDialogs::QtDialogs(QWidget* parent) : m_parent(parent) {}

QtDialogs::~QtDialogs()
{
    while (m_busy > 0)
        setBusy(false);
}

QString QtDialogs::inputBox(const QString& prompt, const QString& title, const QString& defaultText)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(titleOrDefault(title));
    dialog.setLabelText(shownText(prompt));
    dialog.setTextValue(defaultText);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.textValue();
}

Dialogs::Answer QtDialogs::messageBox(const QString& text, Buttons buttons, Icon icon,
                                      const QString& title)
{
    QMessageBox box(
        icon == Icon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
        titleOrDefault(title), shownText(text),
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Ok;
    }
}

void QtDialogs::setBusy(bool busy)
{
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_busy;
    } else if (m_busy > 0) {
        QGuiApplication::restoreOverrideCursor();
        --m_busy;
    }
}
