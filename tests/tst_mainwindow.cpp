#include "fakewindow.h"
#include "packetitemdelegate.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

namespace {

struct Harness : FakeWindow
{
    Harness() : FakeWindow({"lo (Loopback)"}, Load::AnswerAdapter) {}
    template <typename T> T* child(const char* name) { return window.findChild<T*>(name); }
};

QRect twips(int left, int top, int width, int height)
{
    auto px = [](int t) { return qRound(t / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void frame();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void hiddenValuesLieOutsideTheClientArea();
    void menus();
    void buttonsShareTheMenuActions();
    void statusPanels();
    void keyboardOrder();
    void lineBreaksShowOnOneLine();
};

void tst_MainWindow::frame()
{
    Harness h;
    QCOMPARE(h.window.windowTitle(), QString("Kinto Sniffer"));
    QVERIFY(!(h.window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(h.window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(h.window.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(h.window.minimumSize(), h.window.maximumSize()); // no resizing by dragging
    QCOMPARE(h.window.centralWidget()->size(), QSize(751, 462));
    const QList<QSize> sizes = h.window.windowIcon().availableSizes();
    for (const int size : {16, 24, 32, 48})
        QVERIFY(sizes.contains(QSize(size, size)));
}

void tst_MainWindow::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("ListView1") << "ListView1" << twips(30, 90, 11175, 5745);
    QTest::newRow("Label1") << "Label1" << twips(30, 5880, 2520, 210);
    QTest::newRow("combo1") << "combo1" << twips(45, 6105, 11160, 330);
    QTest::newRow("StatusBar1") << "StatusBar1" << twips(0, 6510, 11265, 420);
    QTest::newRow("btnstop") << "btnstop" << twips(60, 6585, 510, 330);
    QTest::newRow("btnstart") << "btnstart" << twips(585, 6585, 510, 330);
    QTest::newRow("List1") << "List1" << twips(105, 7635, 11025, 840);
    QTest::newRow("port") << "port" << twips(11400, 2895, 660, 300);
    QTest::newRow("saved1") << "saved1" << twips(11325, 495, 660, 210);
}

void tst_MainWindow::controlsAtTheirPlaces()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    Harness h;
    auto* widget = h.window.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
    QVERIFY(!widget->accessibleName().isEmpty());
}

void tst_MainWindow::hiddenValuesLieOutsideTheClientArea()
{
    Harness h;
    const QRect client = h.window.centralWidget()->rect();
    for (const char* name : {"port", "saved1", "List1"}) {
        auto* widget = h.child<QWidget>(name);
        QVERIFY2(!client.intersects(widget->geometry()), name);
        QVERIFY(widget->isEnabled());
    }
    QCOMPARE(h.child<QLineEdit>("port")->text(), QString("4111"));
    QCOMPARE(h.child<QCheckBox>("saved1")->text(), QString("saved"));
    QVERIFY(!h.child<QCheckBox>("saved1")->isChecked());
}

void tst_MainWindow::menus()
{
    Harness h;
    const QList<QAction*> top = h.window.menuBar()->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), QString("File"));
    QCOMPARE(top[1]->text(), QString("Capture"));
    auto items = [](QAction* menu) {
        QStringList texts;
        for (QAction* a : menu->menu()->actions())
            texts << (a->isSeparator() ? "-" : a->text() + "|" + a->shortcut().toString());
        return texts;
    };
    QCOMPARE(items(top[0]), (QStringList{"Save Log|", "-", "Exit|Ctrl+X"}));
    QCOMPARE(items(top[1]), (QStringList{"Start|Ctrl+G", "Stop|Ctrl+C", "-", "Clear List|", "-",
                                         "Change UDP Port|"}));
}

void tst_MainWindow::buttonsShareTheMenuActions()
{
    Harness h;
    auto* start = h.child<QToolButton>("btnstart");
    auto* stop = h.child<QToolButton>("btnstop");
    QCOMPARE(start->defaultAction(), h.child<QAction>("CaptureStart"));
    QCOMPARE(stop->defaultAction(), h.child<QAction>("CaptureStop"));
    QCOMPARE(start->toolTip(), QString("Start  Sniffer"));
    QCOMPARE(stop->toolTip(), QString("Stop Sniffer"));
    QCOMPARE(start->accessibleName(), QString("Start Sniffer"));
    QCOMPARE(stop->accessibleName(), QString("Stop Sniffer"));
    QVERIFY(!start->icon().isNull());
    // The buttons stay visible over the status bar's first panel.
    QVERIFY(h.child<QStatusBar>("StatusBar1")->geometry().contains(start->geometry()));
    QVERIFY(h.window.centralWidget()->childAt(start->geometry().center()) == start);
}

void tst_MainWindow::statusPanels()
{
    Harness h;
    QCOMPARE(h.child<QLabel>("panel1")->text(), QString());
    QCOMPARE(h.child<QLabel>("panel2")->text(), QString("Port: 4111"));
    QCOMPARE(h.child<QLabel>("panel3")->text(), QString("Status: Stopped"));
    QCOMPARE(h.child<QLabel>("panel1")->width(), 80);
    QCOMPARE(h.child<QLabel>("panel2")->width(), 133);
    QCOMPARE(h.child<QLabel>("panel3")->width(), 533);
    QCOMPARE(h.child<QLabel>("Label1")->buddy(), h.child<QWidget>("combo1"));
}

void tst_MainWindow::keyboardOrder()
{
    Harness h;
    QStringList order;
    QWidget* w = h.child<QWidget>("ListView1");
    for (int i = 0; i < 7; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
               w->objectName().startsWith("qt_"))
            w = w->nextInFocusChain();
    }
    QCOMPARE(order, (QStringList{"ListView1", "saved1", "port", "combo1", "List1", "btnstop",
                                 "btnstart"}));
}

void tst_MainWindow::lineBreaksShowOnOneLine()
{
    Harness h;
    auto* delegate =
        qobject_cast<PacketItemDelegate*>(h.child<QTableView>("ListView1")->itemDelegate());
    QVERIFY(delegate);
    QCOMPARE(delegate->displayText(QString("[x]\r\nok\r\n!"), QLocale::c()),
             QStringLiteral(u"[x]\u21B5ok\u21B5!"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
