#include "capturefiles.h"
#include "fakewindow.h"
#include "modalhand.h"
#include "packetitemdelegate.h"
#include "packetlistmodel.h"
#include "packetlistview.h"
#include "packetwindow.h"
#include "referencedecoder.h"
#include "testfiles.h"
#include "testpackets.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

namespace {

struct Harness : FakeWindow
{
    Harness() : FakeWindow({"lo (Loopback)"}, Load::AnswerAdapter) {}
    template <typename T> T* child(const char* name) { return window.findChild<T*>(name); }
    // Gives the window the keyboard, as a click on its title bar would.
    bool activate()
    {
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }
    bool focus(const char* name)
    {
        child<QWidget>(name)->setFocus(Qt::OtherFocusReason);
        return QTest::qWaitFor([&] { return child<QWidget>(name)->hasFocus(); });
    }
    // Nothing was asked of the capture component after its start-up call.
    bool nothingChosen() const
    {
        return probe.state() == CaptureState::NoAdapter &&
               capture->m_calls == QStringList{"startup"};
    }
};

// As many rows as a list can count, with nothing behind them.
struct LongestList : QAbstractTableModel
{
    int rowCount(const QModelIndex&) const override { return std::numeric_limits<int>::max(); }
    int columnCount(const QModelIndex&) const override { return PacketListModel::ColumnCount; }
    QVariant data(const QModelIndex& index, int) const override { return index.row(); }
};

QRect twips(int left, int top, int width, int height)
{
    auto px = [](int t) { return qRound(t / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

// Counts the paints a widget receives.
struct PaintCount : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void frame();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void hiddenValuesLieOutsideTheClientArea();
    void menus();
    void captureFileInAndOut();
    void buttonsShareTheMenuActions();
    void statusPanels();
    void keyboardOrder();
    void lineBreaksShowOnOneLine();
    void columnsStartAtTheirWidths_data();
    void columnsStartAtTheirWidths();
    void aReaderComesBackToItsCells();
    void listKeysAndMouse_data();
    void listKeysAndMouse();
    void longestListPages_data();
    void longestListPages();
    void focusReachingList1ChoosesNothing_data();
    void focusReachingList1ChoosesNothing();
    void typingInCombo1ChoosesNothing();
    void wheelOverCombo1ActsOnlyWithFocus();
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
    QCOMPARE(items(top[0]), (QStringList{"Save Log|", "Open Capture...|Ctrl+O",
                                         "Save Capture...|Ctrl+S", "-", "Exit|Ctrl+X"}));
    QCOMPARE(items(top[1]), (QStringList{"Start|Ctrl+G", "Stop|Ctrl+C", "-", "Clear List|", "-",
                                         "Change UDP Port|"}));
}

// A file as dumpcap writes it, named on the command line, then File > Save Capture of its list.
void tst_MainWindow::captureFileInAndOut()
{
    using namespace CaptureFiles;
    const qint64 t0 = 1765029909123456789;
    const QList<Frame> kept{{t0, udpFrame(Ethernet, 4111, "***[one")},
                            {t0 + 2500000000, udpFrame(Ethernet, 4111, "**-[two\xda")}};
    QTemporaryDir dir;
    const QString opened = dir.filePath("dumpcap.pcapng");
    const QString saved = dir.filePath("saved.pcap");
    QVERIFY(writeFile(opened,
                      pcapngFile(Ethernet,
                                 {kept[0], {t0 + 1, udpFrame(Ethernet, 4112, "***[x")}, kept[1]},
                                 true, false)));
    FakeWindow w({"lo (Loopback)"}, FakeWindow::Load::Later);
    w.window.Form_Load(opened);
    QVERIFY(w.dialogs->shown.isEmpty()); // no question about adapters, no message
    QCOMPARE(w.probe.state(), CaptureState::NoAdapter);
    QCOMPARE(w.window.model().rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const auto reference = ReferenceDecoder::decodePacket(kept[row].bytes);
        QCOMPARE(w.window.model().text(row, PacketListModel::No), QString::number(row + 1));
        QCOMPARE(w.window.model().text(row, PacketListModel::Size),
                 QString::number(kept[row].bytes.size()));
        QCOMPARE(w.window.model().text(row, PacketListModel::Type), reference.type);
        QCOMPARE(w.window.model().text(row, PacketListModel::Data), reference.data);
    }

    w.dialogs->typeText(saved);
    w.probe.action("savecapture")->trigger();
    QCOMPARE(w.dialogs->problems(), QString());
    QCOMPARE(readAll(saved), pcapFile(Ethernet, kept, false, false));
    const QString tcpdump = QStandardPaths::findExecutable("tcpdump");
    if (tcpdump.isEmpty())
        QSKIP("tcpdump is not installed: the saved file was checked byte by byte only");
    QProcess reader;
    reader.start(tcpdump, {"-r", "-", "-tt", "-nn", "-q"});
    reader.write(readAll(saved));
    reader.closeWriteChannel();
    QVERIFY(reader.waitForFinished());
    const QList<QByteArray> lines = reader.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("1765029909.123456 IP 127.0.0.1.5555 > 127.0.0.1.4111"), lines[0]);
    QVERIFY2(lines[1].startsWith("1765029911.623456 IP 127.0.0.1.5555 > 127.0.0.1.4111"), lines[1]);
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
    auto* delegate = qobject_cast<PacketItemDelegate*>(h.probe.packetList()->itemDelegate());
    QVERIFY(delegate);
    QCOMPARE(delegate->displayText(QString("[x]\r\nok\r\n!"), QLocale::c()),
             QStringLiteral(u"[x]\u21B5ok\u21B5!"));
}

void tst_MainWindow::columnsStartAtTheirWidths_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("twips");
    QTest::newRow("No") << 0 << "No" << 800;
    QTest::newRow("Date") << 1 << "Date" << 2500;
    QTest::newRow("Size") << 2 << "Size" << 800;
    QTest::newRow("Type") << 3 << "Type" << 1400;
    QTest::newRow("Data") << 4 << "Data" << 5400;
}

void tst_MainWindow::columnsStartAtTheirWidths()
{
    QFETCH(int, column);
    QFETCH(QString, title);
    QFETCH(int, twips);
    FakeWindow h; // capturing
    QHeaderView* header = h.probe.packetColumns();
    QCOMPARE(header->sectionSize(column), qRound(twips / 15.0));
    QCOMPARE(header->sectionResizeMode(column), QHeaderView::Interactive); // the user may resize
    QCOMPARE(header->model()->headerData(column, Qt::Horizontal).toString(), title);

    // What assistive technology reads: a table with column headers and the cells' texts.
    h.capture->deliver({messagePacket("***[first]"), messagePacket("***[second]\r\nline")});
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(h.probe.packetList());
    QAccessibleTableInterface* table = list ? list->tableInterface() : nullptr;
    QVERIFY(table);
    QCOMPARE(list->role(), QAccessible::Table);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->columnCount(), 5);
    QAccessibleInterface* cell = table->cellAt(1, column);
    QVERIFY(cell && cell->tableCellInterface());
    QCOMPARE(cell->role(), QAccessible::Cell);
    QCOMPARE(cell->text(QAccessible::Name), h.window.model().text(1, column));
    QCOMPARE(list->child(list->indexOfChild(cell)), cell);
    const QList<QAccessibleInterface*> headers = cell->tableCellInterface()->columnHeaderCells();
    QCOMPARE(headers.size(), 1);
    QCOMPARE(headers.first()->role(), QAccessible::ColumnHeader);
    QCOMPARE(headers.first()->text(QAccessible::Name), title);
}

// A screen reader walking the whole list costs bounded memory, and finds every cell again.
// (Under a screen reader, a cell let go is announced as gone first; offscreen there is none.)
void tst_MainWindow::aReaderComesBackToItsCells()
{
    FakeWindow h; // capturing
    QList<Packet> packets;
    for (int i = 0; i < 1000; ++i)
        packets.append(messagePacket(QStringLiteral("***[%1]").arg(i)));
    h.capture->deliver(packets);
    auto* table = QAccessible::queryAccessibleInterface(h.probe.packetList())->tableInterface();
    QList<QAccessible::Id> visited;
    for (int row = 0; row < 1000; ++row) {
        for (int column = 0; column < 5; ++column)
            visited.append(QAccessible::uniqueId(table->cellAt(row, column)));
    }
    const auto alive = std::count_if(visited.begin(), visited.end(), [](QAccessible::Id id) {
        return QAccessible::accessibleInterface(id) != nullptr;
    });
    QVERIFY2(alive <= 4096, qPrintable(QString::number(alive)));
    QCOMPARE(table->cellAt(0, 4)->text(QAccessible::Name), QStringLiteral("[0]"));
    QCOMPARE(table->cellAt(999, 0)->text(QAccessible::Name), QStringLiteral("1000"));
}

void tst_MainWindow::listKeysAndMouse_data()
{
    // From the row "from" made current (-1: none, list at the top), after "action" the current
    // row is "row" plus "pages" times the rows a page holds, selected or not, and the list
    // shows "top" as its first row (-1: not checked) and the current row whole ("shown"), in a
    // list of "count" rows.
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("pages");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("top");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("count");
    QTest::newRow("Down") << 5 << "Down" << 6 << 0 << true << 5 << true << 200;
    QTest::newRow("Up") << 5 << "Up" << 4 << 0 << true << 4 << true << 200;
    QTest::newRow("Up at the first row") << 0 << "Up" << 0 << 0 << true << 0 << true << 200;
    QTest::newRow("Down at the last row") << 199 << "Down" << 199 << 0 << true << -1 << true << 200;
    QTest::newRow("Page Down") << 10 << "PageDown" << 10 << 1 << true << 11 << true << 200;
    QTest::newRow("Page Up") << 150 << "PageUp" << 150 << -1 << true << -1 << true << 200;
    QTest::newRow("Home") << 150 << "Home" << 0 << 0 << true << 0 << true << 200;
    QTest::newRow("End") << 10 << "End" << 199 << 0 << true << -1 << true << 200;
    QTest::newRow("click") << -1 << "click" << 3 << 0 << true << 0 << true << 200;
    QTest::newRow("double click") << -1 << "doubleClick" << 3 << 0 << true << 0 << true << 200;
    QTest::newRow("wheel") << 5 << "wheel" << 5 << 0 << true << 8 << false << 200; // 3 rows a notch
    QTest::newRow("focus alone") << -1 << "focus" << 0 << 0 << false << 0 << true << 200;
    // The edges of a list of none or one row: nothing moves, nothing breaks.
    QTest::newRow("Down, no rows") << -1 << "Down" << -1 << 0 << false << -1 << false << 0;
    QTest::newRow("End, no rows") << -1 << "End" << -1 << 0 << false << -1 << false << 0;
    QTest::newRow("click, no rows") << -1 << "click" << -1 << 0 << false << -1 << false << 0;
    QTest::newRow("Down, one row") << 0 << "Down" << 0 << 0 << true << 0 << true << 1;
    QTest::newRow("Page Down, one row") << 0 << "PageDown" << 0 << 0 << true << 0 << true << 1;
    QTest::newRow("Page Up, one row") << 0 << "PageUp" << 0 << 0 << true << 0 << true << 1;
    // A delivery scrolls to the newest row; the current row stays where it was.
    QTest::newRow("batch") << 5 << "batch" << 5 << 0 << true << -1 << false << 200;
}

void tst_MainWindow::listKeysAndMouse()
{
    QFETCH(int, from);
    QFETCH(QString, action);
    QFETCH(int, row);
    QFETCH(int, pages);
    QFETCH(bool, selected);
    QFETCH(int, top);
    QFETCH(bool, shown);
    QFETCH(int, count);
    FakeWindow h; // capturing
    auto deliver = [&h](int first, int count) {
        QList<Packet> packets;
        for (int i = first; i < first + count; ++i)
            packets.append(messagePacket(QStringLiteral("***[%1]").arg(i + 1)));
        h.capture->deliver(packets);
    };
    if (count > 0)
        deliver(0, count);
    QAbstractItemView* list = h.probe.packetList();
    QWidget* rows = list->viewport();
    if (count > 0)
        QVERIFY(rows->rect().contains(list->visualRect(h.window.model().index(count - 1, 0))));
    if (from >= 0)
        list->selectionModel()->setCurrentIndex(h.window.model().index(from, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
    else
        list->scrollToTop();
    const int rowHeight = list->visualRect(h.window.model().index(0, 0)).height();
    const int page = pages ? rows->height() / rowHeight : 0;
    const QPoint atRow = row >= 0 ? list->visualRect(h.window.model().index(row, 1)).center()
                                  : rows->rect().center();

    QString detail;
    ModalHand hand([&detail](QWidget* modal) {
        detail = static_cast<PacketWindow*>(modal)->text();
        modal->close();
    });
    const QMap<QString, Qt::Key> keys{{"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},
                                      {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown},
                                      {"Home", Qt::Key_Home},     {"End", Qt::Key_End}};
    if (keys.contains(action)) {
        QTest::keyClick(list, keys[action]);
    } else if (action == "click") {
        QTest::mouseClick(rows, Qt::LeftButton, Qt::NoModifier, atRow);
    } else if (action == "doubleClick") {
        // As the mouse sends it: the first click, then the second as a double click.
        QTest::mouseClick(rows, Qt::LeftButton, Qt::NoModifier, atRow);
        QTest::mouseDClick(rows, Qt::LeftButton, Qt::NoModifier, atRow);
        QVERIFY(hand.acted());
        QCOMPARE(detail, QStringLiteral("***[%1]").arg(row + 1)); // the packet of that row
    } else if (action == "wheel") {
        const QPointF at = QRectF(rows->rect()).center();
        QWheelEvent wheel(at, rows->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rows, &wheel);
    } else if (action == "focus") {
        QApplication::setActiveWindow(&h.window);
        QVERIFY(QTest::qWaitForWindowActive(&h.window));
        list->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(list->hasFocus());
    } else if (action == "batch") {
        deliver(200, 50);
        QVERIFY(rows->rect().contains(list->visualRect(h.window.model().index(249, 0))));
    }
    if (action != "doubleClick")
        QVERIFY(!hand.failed() && detail.isEmpty()); // nothing but a double click opens it

    const QModelIndex current = list->currentIndex();
    QCOMPARE(current.row(), row + pages * page);
    QCOMPARE(list->selectionModel()->isRowSelected(current.row()), selected);
    QCOMPARE(list->selectionModel()->selectedRows().size(), selected ? 1 : 0);
    if (top >= 0)
        QCOMPARE(list->indexAt(QPoint(1, 1)).row(), top);
    if (shown)
        QVERIFY(rows->rect().contains(list->visualRect(current)));
}

void tst_MainWindow::longestListPages_data()
{
    // From "from" rows before the last, after "key" the current row is "to" rows before the
    // last less "pages" pages, and shown whole.
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("pages");
    // Whether the scroll bar is drawn again: only when its slider or its ends look different.
    QTest::addColumn<bool>("barDrawn");
    QTest::newRow("Page Down near the end") << 2 << int(Qt::Key_PageDown) << 0 << 0 << true;
    QTest::newRow("Page Up from the last row") << 0 << int(Qt::Key_PageUp) << 0 << 1 << true;
    QTest::newRow("Down on the last row") << 0 << int(Qt::Key_Down) << 0 << 0 << false;
    QTest::newRow("End from the first row")
        << std::numeric_limits<int>::max() - 1 << int(Qt::Key_End) << 0 << 0 << true;
    const int middle = std::numeric_limits<int>::max() / 2;
    QTest::newRow("Down in the middle") << middle << int(Qt::Key_Down) << middle - 1 << 0 << false;
}

void tst_MainWindow::longestListPages()
{
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);
    QFETCH(int, pages);
    QFETCH(bool, barDrawn);
    LongestList model;
    PacketListView view;
    view.resize(400, 300);
    view.setModel(&model);
    view.show();
    QApplication::setActiveWindow(&view);
    QVERIFY(QTest::qWaitForWindowActive(&view));
    const int last = std::numeric_limits<int>::max() - 1;
    view.setCurrentIndex(model.index(last - from, 0));
    PaintCount barPaints;
    view.verticalScrollBar()->installEventFilter(&barPaints);
    view.verticalScrollBar()->repaint(); // as the window shows it now
    QCoreApplication::processEvents();
    barPaints.count = 0;
    QTest::keyClick(&view, Qt::Key(key));
    QCoreApplication::processEvents();
    if (barDrawn)
        QTRY_VERIFY_WITH_TIMEOUT(barPaints.count > 0, 500); // drawn at once, in fact
    else
        QCOMPARE(barPaints.count, 0);
    QCOMPARE(view.currentIndex().row(), last - to - pages * view.pageRows());
    QVERIFY(view.viewport()->rect().contains(view.visualRect(view.currentIndex())));
    QCOMPARE(view.verticalScrollBar()->maximum(), last + 1 - view.pageRows());
}

void tst_MainWindow::focusReachingList1ChoosesNothing_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Tab from combo1") << "combo1" << int(Qt::Key_Tab) << int(Qt::NoModifier);
    // The buttons are disabled with no adapter chosen, so the focus goes round to List1.
    QTest::newRow("Shift+Tab from ListView1")
        << "ListView1" << int(Qt::Key_Backtab) << int(Qt::ShiftModifier);
}

void tst_MainWindow::focusReachingList1ChoosesNothing()
{
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Harness h;
    QVERIFY(h.activate());
    QVERIFY(h.focus(qPrintable(from)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(h.child<QListWidget>("List1")->hasFocus());
    QVERIFY2(h.nothingChosen(), qPrintable(h.capture->m_calls.join(", ")));

    h.probe.chooseInList(0); // a click is a choice
    QCOMPARE(h.probe.state(), CaptureState::Running);
}

void tst_MainWindow::typingInCombo1ChoosesNothing()
{
    Harness h;
    QVERIFY(h.activate());
    QVERIFY(h.focus("combo1"));
    QWidget* typing = QApplication::focusWidget();
    QTest::keyClicks(typing, "(1");
    QCOMPARE(h.child<QComboBox>("combo1")->currentText(), QString("(1")); // nothing completed
    QTest::keyClicks(typing, ") lo (Loopback)");
    QTest::keyClick(typing, Qt::Key_Return);
    QVERIFY(h.focus("ListView1")); // leaving the field chooses nothing either
    QVERIFY2(h.nothingChosen(), qPrintable(h.capture->m_calls.join(", ")));
}

void tst_MainWindow::wheelOverCombo1ActsOnlyWithFocus()
{
    Harness h;
    QVERIFY(h.activate());
    auto* combo = h.child<QComboBox>("combo1");
    // As from the mouse: spontaneous, so that the application may first give the focus to a
    // widget that takes it by the wheel.
    auto turnWheel = [](QWidget* under) {
        const QPointF at = QRectF(under->rect()).center();
        QWheelEvent wheel(at, under->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QApplication::sendEvent(under, &wheel);
    };
    QVERIFY(h.focus("ListView1"));
    turnWheel(combo->lineEdit()); // on the way past, over its text field
    QCOMPARE(combo->currentIndex(), -1);
    QVERIFY2(h.nothingChosen(), qPrintable(h.capture->m_calls.join(", ")));

    QVERIFY(h.focus("combo1"));
    turnWheel(combo);
    QCOMPARE(h.probe.state(), CaptureState::Ready);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
