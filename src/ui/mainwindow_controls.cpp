// The main window's furniture: controls at their places, menus, keyboard order, and the view
// side of the capture controller.
#include "mainwindow.h"

#include "capturecomponent.h"
#include "capturecontroller.h"
#include "packetitemdelegate.h"
#include "packetlistmodel.h"
#include "packetlistview.h"
#include "symbolicons.h"
#include "twips.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolButton>

namespace {

// The status panel, and the panel that counts lost packets once there are any.
constexpr int StatusPanelTwips = 8000;
constexpr int DroppedPanelTwips = 2400;

QFont arial()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    return font;
}

template <typename Widget>
Widget* place(Widget* widget, const char* name, const QString& accessibleName, int left, int top,
              int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(accessibleName);
    widget->setGeometry(Twips::toPixels(left, top, width, height));
    return widget;
}

QAction* action(QObject* parent, const char* name, const QString& text,
                const QKeySequence& shortcut = {})
{
    auto* a = new QAction(text, parent);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(shortcut);
    return a;
}

} // namespace

void MainWindow::createActions()
{
    m_savelog = action(this, "savelog", QStringLiteral("Save Log"));
    m_opencapture = action(this, "opencapture", QStringLiteral("Open Capture..."),
                           QKeySequence(Qt::CTRL | Qt::Key_O));
    m_savecapture = action(this, "savecapture", QStringLiteral("Save Capture..."),
                           QKeySequence(Qt::CTRL | Qt::Key_S));
    m_FileExit =
        action(this, "FileExit", QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_X));
    m_CaptureStart =
        action(this, "CaptureStart", QStringLiteral("Start"), QKeySequence(Qt::CTRL | Qt::Key_G));
    m_CaptureStop =
        action(this, "CaptureStop", QStringLiteral("Stop"), QKeySequence(Qt::CTRL | Qt::Key_C));
    m_clearlist = action(this, "clearlist", QStringLiteral("Clear List"));
    m_changeport = action(this, "changeport", QStringLiteral("Change UDP Port"));

    // The buttons show these actions, so a menu item and its button can never disagree.
    m_CaptureStart->setIcon(SymbolIcons::play());
    m_CaptureStart->setIconVisibleInMenu(false);
    m_CaptureStart->setToolTip(QStringLiteral("Start  Sniffer"));
    m_CaptureStop->setIcon(SymbolIcons::stop());
    m_CaptureStop->setIconVisibleInMenu(false);
    m_CaptureStop->setToolTip(QStringLiteral("Stop Sniffer"));
    for (QAction* a : {m_savelog, m_opencapture, m_savecapture, m_FileExit, m_CaptureStart,
                       m_CaptureStop, m_clearlist, m_changeport})
        addAction(a); // shortcuts work wherever the focus is in the window

    connect(m_savelog, &QAction::triggered, this, &MainWindow::savelog_Click);
    connect(m_opencapture, &QAction::triggered, this, &MainWindow::opencapture_Click);
    connect(m_savecapture, &QAction::triggered, this, &MainWindow::savecapture_Click);
    connect(m_FileExit, &QAction::triggered, this, &MainWindow::FileExit_Click);
    connect(m_CaptureStart, &QAction::triggered, this,
            [this] { m_controller->CaptureStart_Click(); });
    connect(m_CaptureStop, &QAction::triggered, this,
            [this] { m_controller->CaptureStop_Click(); });
    connect(m_clearlist, &QAction::triggered, this, &MainWindow::clearlist_Click);
    connect(m_changeport, &QAction::triggered, this, &MainWindow::changeport_Click);
}

void MainWindow::createMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File"));
    file->addAction(m_savelog);
    file->addAction(m_opencapture);
    file->addAction(m_savecapture);
    file->addSeparator()->setObjectName(QStringLiteral("dash3"));
    file->addAction(m_FileExit);

    QMenu* capture = menuBar()->addMenu(QStringLiteral("Capture"));
    capture->setObjectName(QStringLiteral("Capture"));
    capture->addAction(m_CaptureStart);
    capture->addAction(m_CaptureStop);
    capture->addSeparator()->setObjectName(QStringLiteral("dash5"));
    capture->addAction(m_clearlist);
    capture->addSeparator()->setObjectName(QStringLiteral("dash4"));
    capture->addAction(m_changeport);
}

void MainWindow::createControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    // A view of our own: Qt's table keeps a header section per row and its tree lays every row
    // out again on each insertion, so a long capture cost more with every packet.
    m_ListView1 = place(new PacketListView(m_client), "ListView1", QStringLiteral("Packets"), 30,
                        90, 11175, 5745);
    m_ListView1->setFont(arial());
    m_ListView1->setItemDelegate(new PacketItemDelegate(m_ListView1));
    connect(m_ListView1, &PacketListView::doubleClicked, this, &MainWindow::ListView1_DblClick);

    m_Label1 = place(new QLabel(QStringLiteral("Network Adapter"), m_client), "Label1",
                     QStringLiteral("Network Adapter"), 30, 5880, 2520, 210);
    m_Label1->setFont(arial());

    m_combo1 = place(new QComboBox(m_client), "combo1", QStringLiteral("Network Adapter"), 45, 6105,
                     11160, 330);
    m_combo1->setFont(arial());
    m_combo1->setEditable(true);
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    // Its text field takes typing, which changes nothing: no entry is completed, and neither
    // Return nor leaving the field chooses the entry whose text was typed.
    m_combo1->setCompleter(nullptr);
    disconnect(m_combo1->lineEdit(), SIGNAL(returnPressed()), m_combo1, nullptr);
    disconnect(m_combo1->lineEdit(), SIGNAL(editingFinished()), m_combo1, nullptr);
    m_Label1->setBuddy(m_combo1);
    m_combo1->setFocusPolicy(Qt::StrongFocus); // the wheel alone must not give it the focus
    m_combo1->installEventFilter(this);
    m_combo1->lineEdit()->installEventFilter(this);
    connect(m_combo1, &QComboBox::activated, this,
            [this](int index) { m_controller->combo1_Click(index); });

    createStatusBar(m_client);

    m_btnstop = place(new QToolButton(m_client), "btnstop", QStringLiteral("Stop Sniffer"), 60,
                      6585, 510, 330);
    m_btnstop->setDefaultAction(m_CaptureStop);
    m_btnstart = place(new QToolButton(m_client), "btnstart", QStringLiteral("Start Sniffer"), 585,
                       6585, 510, 330);
    m_btnstart->setDefaultAction(m_CaptureStart);
    for (QToolButton* button : {m_btnstop, m_btnstart}) {
        button->setFocusPolicy(Qt::StrongFocus);
        button->setIconSize(button->size() * 3 / 4);
        button->raise(); // over the status bar's first panel
    }

    m_List1 = place(new QListWidget(m_client), "List1", QStringLiteral("Adapters"), 105, 7635,
                    11025, 840);
    // Focus arriving makes an entry current without selecting it; only a moved selection (the
    // arrow keys or a click) is a choice.
    connect(m_List1, &QListWidget::itemSelectionChanged, this, [this] {
        const QModelIndexList selected = m_List1->selectionModel()->selectedRows();
        if (!selected.isEmpty())
            m_controller->List1_Click(selected.first().row());
    });

    m_port = place(new QLineEdit(QStringLiteral("4111"), m_client), "port", QStringLiteral("Port"),
                   11400, 2895, 660, 300);
    m_port->installEventFilter(this);
    m_saved1 = place(new QCheckBox(QStringLiteral("saved"), m_client), "saved1",
                     QStringLiteral("saved"), 11325, 495, 660, 210);
}

void MainWindow::createStatusBar(QWidget* client)
{
    m_StatusBar1 =
        place(new QStatusBar(client), "StatusBar1", QStringLiteral("Status"), 0, 6510, 11265, 420);
    m_StatusBar1->setFont(arial());
    m_StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {1200, 2000, StatusPanelTwips, DroppedPanelTwips};
    for (int i = 0; i < 4; ++i) {
        m_panels[i] = new QLabel(m_StatusBar1);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setFixedWidth(Twips::toPixels(widths[i]));
        m_StatusBar1->addWidget(m_panels[i]);
    }
    m_panels[3]->setAccessibleName(QStringLiteral("Dropped packets"));
    m_panels[3]->hide();
}

// Shown only once packets were lost: then it takes the end of the status panel, whose text is
// short, so that the bar keeps its width.
void MainWindow::showDropped(quint64 dropped)
{
    m_panels[3]->setText(QStringLiteral("Dropped: %1").arg(dropped));
    m_panels[3]->setVisible(dropped > 0);
    const int status = dropped > 0 ? StatusPanelTwips - DroppedPanelTwips : StatusPanelTwips;
    m_panels[2]->setFixedWidth(Twips::toPixels(status));
}

void MainWindow::setKeyboardOrder()
{
    QWidget* order[] = {m_ListView1, m_saved1, m_port, m_combo1, m_List1, m_btnstop, m_btnstart};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Menu shortcuts come first, as the menus promise: Ctrl+C stops capture even while a text
    // field has the focus, instead of copying its text.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* a : actions()) {
            if (a->shortcut() == pressed)
                return true;
        }
    }
    if (isStrayWheel(watched, event))
        return true;
    // The status bar keeps to the bottom edge and full width; nothing else moves.
    if (watched == m_client && event->type() == QEvent::Resize) {
        const int height = Twips::toPixels(420);
        m_StatusBar1->setGeometry(0, m_client->height() - height, m_client->width(), height);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::isStrayWheel(QObject* watched, QEvent* event) const
{
    // The wheel turned while the pointer passes over the drop-down on its way elsewhere must not
    // change the adapter; only a drop-down that has the keyboard focus takes it.
    return watched == m_combo1 && event->type() == QEvent::Wheel && !m_combo1->hasFocus() &&
           !m_combo1->lineEdit()->hasFocus();
}

void MainWindow::addListColumns()
{
    m_ListView1->setModel(m_model);
    for (int column = 0; column < PacketListModel::ColumnCount; ++column)
        m_ListView1->header()->resizeSection(
            column, Twips::toPixels(PacketListModel::columnWidthTwips(column)));
}

void MainWindow::clearAdapterLists()
{
    const QSignalBlocker blockList(m_List1); // emptying the list chooses nothing
    m_List1->clear();
    m_combo1->clear();
}

void MainWindow::addAdapterEntries(const QString& list1Entry, const QString& comboEntry)
{
    const QSignalBlocker blockList(m_List1);
    m_List1->addItem(list1Entry);
    m_combo1->addItem(comboEntry);
    m_combo1->setCurrentIndex(-1);
}

int MainWindow::comboEntryCount() const
{
    return m_combo1->count();
}

QString MainWindow::comboEntry(int index) const
{
    return m_combo1->itemText(index);
}

void MainWindow::setComboText(const QString& text)
{
    m_combo1->setCurrentIndex(m_combo1->findText(text));
    m_combo1->setEditText(text);
}

void MainWindow::setPortPanel(const QString& text)
{
    m_panels[1]->setText(text);
}

void MainWindow::setStatusPanel(const QString& text)
{
    m_panels[2]->setText(text);
}

void MainWindow::setCaptureState(CaptureState state)
{
    if (state == CaptureState::Running)
        m_staleCapture = false;
    m_CaptureStart->setEnabled(state == CaptureState::Ready);
    m_CaptureStop->setEnabled(state == CaptureState::Running);
}

CaptureState MainWindow::captureState() const
{
    // Running exactly when Stop is enabled; the controls are the record.
    if (m_CaptureStop->isEnabled())
        return CaptureState::Running;
    return m_CaptureStart->isEnabled() ? CaptureState::Ready : CaptureState::NoAdapter;
}

QString MainWindow::portText() const
{
    return m_port->text();
}

void MainWindow::setPortText(const QString& text)
{
    m_port->setText(text);
}
