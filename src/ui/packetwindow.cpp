#include "packetwindow.h"

#include "payloaddecoder.h"
#include "twips.h"

#include <QPlainTextEdit>

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
    resize(Twips::toPixels(8340), Twips::toPixels(4320));
    Form_Load();
    return QDialog::exec();
}

void PacketWindow::Form_Load()
{
    m_Text2 = HexText(m_oPacket.data);
    Command1_Click();
}

void PacketWindow::Command1_Click()
{
    QString decoded = DecodePayload(m_Text2);
    // A text box holds no character with code 0: the characters around it close up.
    decoded.remove(QChar(u'\0'));
    decoded.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Set once: a long packet must not be appended to the widget piece by piece.
    m_Text1->setPlainText(decoded);
}

QString PacketWindow::text() const
{
    return m_Text1->toPlainText();
}

void PacketWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_Text1->setGeometry(rect()); // always fills the client area
}
