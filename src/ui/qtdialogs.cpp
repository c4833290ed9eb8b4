#include "qtdialogs.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
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
// long. A box wraps its text at spaces only, so a word wider than the screen has room for is
// shortened in its middle, keeping its start and end; a line that would still wrap more than
// a few times is shortened as a whole. The reason on the next line and the buttons stay in sight,
// and a command the message gives (with spaces in it) stays whole.
QString fittedLine(const QString& line, const QFontMetrics& metrics, int width, int widest)
{
    QStringList words = line.split(u' ');
    for (QString& word : words) {
        if (metrics.horizontalAdvance(word) > widest)
            word = metrics.elidedText(word, Qt::ElideMiddle, widest);
    }
    const QString fitted = words.join(u' ');
    if (metrics.horizontalAdvance(fitted) <= width * MostWrappedLines)
        return fitted;
    return metrics.elidedText(fitted, Qt::ElideMiddle, width * MostWrappedLines);
}

// width: where the box wraps its text; widest: the widest word the screen has room for (the
// box grows to hold it).
QString fittedText(const QString& text, const QFontMetrics& metrics, int width, int widest)
{
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = fittedLine(line, metrics, width, widest);
    return lines.join(u'\n');
}

int screenWidth(const QWidget& box)
{
    const QScreen* screen = box.screen();
    return screen ? screen->availableGeometry().width() : 800;
}

// The width Qt lets a message box's text take before it wraps, less the box's margins.
int textWidth(const QWidget& box)
{
    return qMin(screenWidth(box) / 2, 500) - 40;
}

// Qt's progress dialog, modal, shown at once: the caller decides when a progress is due.
class ProgressBox : public Dialogs::Progress
{
public:
    ProgressBox(QWidget* parent, const QString& title, const QString& text, qint64 total)
        : m_dialog(shownText(text), QStringLiteral("Cancel"), 0, int(total), parent), m_total(total)
    {
        m_dialog.setWindowTitle(Dialogs::titleOrDefault(title));
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(0);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.show();
        // The busy cursor is for the window behind; the Cancel button takes clicks.
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ProgressBox() override { QGuiApplication::restoreOverrideCursor(); }
    void setValue(qint64 done, const QString& text) override
    {
        m_dialog.setLabelText(shownText(text));
        m_dialog.setValue(int(qMin(done, m_total)));
    }
    bool wasCanceled() const override { return m_dialog.wasCanceled(); }

private:
    QProgressDialog m_dialog;
    qint64 m_total;
};

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
    box.setText(
        fittedText(shownText(text), box.fontMetrics(), textWidth(box), screenWidth(box) - 100));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Ok;
    }
}

std::unique_ptr<Dialogs::Progress> QtDialogs::showProgress(const QString& title,
                                                           const QString& text, qint64 total)
{
    return std::make_unique<ProgressBox>(m_parent, title, text, total);
}

QString QtDialogs::openFileName(const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_parent, Dialogs::titleOrDefault(title), {}, filter);
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
