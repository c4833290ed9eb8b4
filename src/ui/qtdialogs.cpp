#include "qtdialogs.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>

namespace {

// The texts carry CR LF, as they are written for the user; Qt breaks lines at LF alone.
QString shownText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A line longer than this many box widths would make the box taller than a screen.
constexpr int MostWrappedLines = 4;

// A message names files as the user typed them, and a name can be thousands of characters
// long. The quoted name is shortened in its middle so that its line fits the box, keeping its
// start and end, the reason on the next line and the buttons in sight.
QString fittedLine(const QString& line, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    const qsizetype open = line.indexOf(u'"');
    const qsizetype close = line.lastIndexOf(u'"');
    if (open >= 0 && close > open + 1) {
        const QString name = line.mid(open + 1, close - open - 1);
        const int rest = metrics.horizontalAdvance(line) - metrics.horizontalAdvance(name);
        const QString shortName =
            metrics.elidedText(name, Qt::ElideMiddle, qMax(width - rest, width / 2));
        return line.left(open + 1) + shortName + line.mid(close);
    }
    return metrics.elidedText(line, Qt::ElideMiddle, width * MostWrappedLines);
}

QString fittedText(const QString& text, const QFontMetrics& metrics, int width)
{
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = fittedLine(line, metrics, width);
    return lines.join(u'\n');
}

// The width Qt lets a message box's text take before it wraps, less the box's margins.
int textWidth(const QWidget& box)
{
    const QScreen* screen = box.screen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 800;
    return qMin(screenWidth / 2, 500) - 40;
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
        titleOrDefault(title), QString(),
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(fittedText(shownText(text), box.fontMetrics(), textWidth(box)));
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
