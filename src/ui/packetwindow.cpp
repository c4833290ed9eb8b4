#include "packetwindow.h"

#include "payloaddecoder.h"
#include "twips.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace {

// The text box breaks lines only at the CR LF pairs. A lone CR or LF shows as a space, as in the
// list, since the text box would break the line at either of them.
QString shownText(QString decoded)
{
    // A text box holds no character with code 0: the characters around it close up, and a CR
    // and LF that meet that way make a pair.
    decoded.remove(QChar(u'\0'));
    QString shown;
    shown.reserve(decoded.size());
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded[i];
        if (c == u'\r' && i + 1 < decoded.size() && decoded[i + 1] == u'\n') {
            shown += u'\n';
            ++i;
        } else if (c == u'\r' || c == u'\n') {
            shown += u' ';
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace

PacketWindow::PacketWindow(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_Text1(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Packet"));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    setFont(font);

    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setAccessibleName(QStringLiteral("Packet text"));
    QFont courier(QStringLiteral("Courier New"));
    courier.setPointSize(9);
    courier.setStyleHint(QFont::Monospace);
    m_Text1->setFont(courier);
    m_Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Text1->setGeometry(Twips::toPixels(0, 0, 8295, 3135));
}

int PacketWindow::exec()
{
    startAfresh();
    Form_Load();
    return QDialog::exec();
}

void PacketWindow::startAfresh()
{
    // Closing only hides the window; every showing starts as a new window would, whatever the
    // user made of the last one.
    setWindowState(Qt::WindowNoState);
    QRect client(QPoint(), QSize(Twips::toPixels(8340), Twips::toPixels(4320)));
    if (const QWidget* owner = parentWidget())
        client.moveCenter(owner->geometry().center());
    setGeometry(client);
}

void PacketWindow::Form_Load()
{
    m_Text2 = HexText(m_oPacket.data);
    Command1_Click();
}

void PacketWindow::Command1_Click()
{
    // Set once: a long packet must not be appended to the widget piece by piece.
    m_Text1->setPlainText(shownText(DecodePayload(m_Text2)));
}

QString PacketWindow::text() const
{
    // toPlainText() turns the packet's byte 160 (a no-break space) into a space; the raw text
    // keeps every character and separates the lines with the paragraph separator instead.
    QString raw = m_Text1->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, u'\n');
    return raw;
}

void PacketWindow::keyPressEvent(QKeyEvent* event)
{
    // The window has no buttons: it closes only by its close button or its system menu.
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void PacketWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_Text1->setGeometry(rect()); // always fills the client area
}
