#include "windowprobe.h"

#include "mainwindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QToolButton>

QString WindowProbe::panel(int number) const
{
    const QLabel* panel = m_window.findChild<QLabel*>(QStringLiteral("panel%1").arg(number));
    return panel->isHidden() ? QString() : panel->text();
}

QAction* WindowProbe::action(const char* name) const
{
    return m_window.findChild<QAction*>(QLatin1String(name));
}

CaptureState WindowProbe::state() const
{
    auto* start = m_window.findChild<QToolButton*>(QStringLiteral("btnstart"));
    auto* stop = m_window.findChild<QToolButton*>(QStringLiteral("btnstop"));
    Q_ASSERT(start->isEnabled() == action("CaptureStart")->isEnabled());
    Q_ASSERT(stop->isEnabled() == action("CaptureStop")->isEnabled());
    if (stop->isEnabled())
        return start->isEnabled() ? CaptureState(-1) : CaptureState::Running;
    return start->isEnabled() ? CaptureState::Ready : CaptureState::NoAdapter;
}

bool WindowProbe::unsaved() const
{
    return m_window.findChild<QCheckBox*>(QStringLiteral("saved1"))->isChecked();
}

QString WindowProbe::port() const
{
    return m_window.findChild<QLineEdit*>(QStringLiteral("port"))->text();
}

void WindowProbe::setPort(const QString& text) const
{
    m_window.findChild<QLineEdit*>(QStringLiteral("port"))->setText(text);
}

void WindowProbe::chooseInCombo(int index) const
{
    auto* combo = m_window.findChild<QComboBox*>(QStringLiteral("combo1"));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void WindowProbe::chooseInList(int index) const
{
    auto* list = m_window.findChild<QListWidget*>(QStringLiteral("List1"));
    const QRect entry = list->visualItemRect(list->item(index));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, entry.center());
}

QStringList WindowProbe::comboEntries() const
{
    auto* combo = m_window.findChild<QComboBox*>(QStringLiteral("combo1"));
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    return entries;
}

QStringList WindowProbe::listEntries() const
{
    auto* list = m_window.findChild<QListWidget*>(QStringLiteral("List1"));
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

QAbstractItemView* WindowProbe::packetList() const
{
    return m_window.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
}

QHeaderView* WindowProbe::packetColumns() const
{
    // The list's own header, not one of another view inside it.
    return packetList()->findChild<QHeaderView*>(QString(), Qt::FindDirectChildrenOnly);
}
