#pragma once

#include "packet.h"

#include <QDialog>

class QPlainTextEdit;

// Shows one packet's whole decoded text, line breaks included, in a window of its own. It is
// loaded anew each time it is shown: the hex text of the packet is built, then decoded.
class PacketWindow : public QDialog
{
    Q_OBJECT

public:
    explicit PacketWindow(QWidget* parent = nullptr);

    // The packet to show at the next showing.
    void setPacket(const Packet& packet) { m_oPacket = packet; }
    // Loads the packet and shows the window modally, centred on its owner.
    int exec() override;

    QString hexText() const { return m_Text2; }
    QString text() const;

    void Form_Load();
    void Command1_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void startAfresh();

    Packet m_oPacket;
    QString m_Text2; // the hex text; never shown
    QPlainTextEdit* m_Text1;
};
