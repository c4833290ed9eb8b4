#include "modalhand.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>

ModalHand::ModalHand(std::function<void(QWidget*)> act) : m_act(std::move(act))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalHand::poll);
    m_timer.start(5);
}

void ModalHand::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    m_timer.stop();
    m_seen = true;
    const QPointer<QWidget> window(modal);
    m_act(modal);
    m_failed = QTest::currentTestFailed();
    if (!m_failed || !window)
        return;
    if (auto* dialog = qobject_cast<QDialog*>(window.data()))
        dialog->reject();
    else
        window->close();
}
