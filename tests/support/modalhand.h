#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

// Acts on the next modal window as soon as it is up, as the user would: act runs while the
// call that opened the window is blocked in it. A QVERIFY or QCOMPARE that fails inside act
// returns from act and leaves the window open; the hand then closes it, so that the blocked
// call returns and the test fails at once instead of at its time-out. After the blocked call,
// check failed() (or use QVERIFY(hand.acted())) before reading what act saw.
class ModalHand : public QObject
{
public:
    explicit ModalHand(std::function<void(QWidget*)> act);

    // Whether a modal window came up and act finished on it without a failed check.
    bool acted() const { return m_seen && !m_failed; }
    bool failed() const { return m_failed; }

private:
    void poll();

    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
    bool m_seen = false;
    bool m_failed = false;
};
