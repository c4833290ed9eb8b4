#include "mainwindow.h"

#include "capturecomponent.h"
#include "capturecontroller.h"
#include "capturefileopen.h"
#include "clearlist.h"
#include "logexport.h"
#include "packetlistmodel.h"
#include "packetlistview.h"
#include "packetwindow.h"
#include "portchange.h"
#include "qtdialogs.h"
#include "twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <QToolButton>

MainWindow::MainWindow(std::unique_ptr<CaptureComponent> component,
                       std::unique_ptr<Dialogs> dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_dialogs(dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>(this)),
      m_oPacketX(std::move(component)), m_model(new PacketListModel(this)),
      m_exit([] { QCoreApplication::exit(0); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Dialogs::applicationTitle());
    QIcon icon;
    for (const int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/kintosniffer-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    m_oPacketX->setObjectName(QStringLiteral("oPacketX"));
    m_oPacketX->setParent(nullptr); // owned here, destroyed before the widgets it reports to

    createActions();
    createControls();
    createMenus();
    setKeyboardOrder();

    m_controller = std::make_unique<CaptureController>(*m_oPacketX, *this, *m_dialogs);
    m_logExport = std::make_unique<LogExport>(*m_model, *m_dialogs, *this);
    m_fileOpen = std::make_unique<CaptureFileOpen>(*m_model, *m_dialogs);
    m_clearList = std::make_unique<ClearList>(*m_model, *m_dialogs, *this, *m_logExport);
    m_portChange = std::make_unique<PortChange>(*this, *m_controller, *m_dialogs);
    connectCapture();

    // The client area is fixed; only the menu bar's height is the platform's own.
    setFixedSize(Twips::toPixels(11265), Twips::toPixels(6930) + menuBar()->sizeHint().height());
}

MainWindow::~MainWindow()
{
    // Widgets losing the focus as they go must not reach the controller any more.
    m_combo1->disconnect(this);
    m_List1->disconnect(this);
    // Stop the capture thread before anything it reports to goes away. Its helper takes a
    // moment to end: the window leaves the screen first.
    hide();
    m_oPacketX.reset();
}

void MainWindow::connectCapture()
{
    connect(m_oPacketX.get(), &CaptureComponent::packetsCaptured, this,
            [this](const PacketBatch& batch) {
                if (!m_staleCapture)
                    m_model->OnPackets(batch);
            });
    connect(m_oPacketX.get(), &CaptureComponent::packetsDropped, this, [this](quint64 count) {
        if (!m_staleCapture)
            m_model->OnDropped(count);
    });
    connect(m_model, &PacketListModel::droppedChanged, this, &MainWindow::showDropped);
    connect(m_model, &PacketListModel::packetsArrived, this, [this] {
        set(true);
        // One scroll per delivery: a burst must not repaint once per packet.
        m_ListView1->scrollToBottom();
    });
    // Queued: capture is stopped after the delivery that filled memory has been handled.
    connect(
        m_model, &PacketListModel::storeFull, this,
        [this] {
            const PacketStore& store = m_model->store();
            m_controller->storeFull(store.shortage(), store.folder(), m_model->rowCount());
        },
        Qt::QueuedConnection);
}

void MainWindow::Form_Load(const QString& captureFile)
{
    m_controller->Form_Load(captureFile.isEmpty());
    if (!captureFile.isEmpty())
        openCapture(captureFile);
}

void MainWindow::openCapture(const QString& fileName)
{
    exclusively([this, &fileName] {
        if (isRunning())
            m_controller->CaptureStop_Click();
        m_controller->stopAndOfferLog();
        m_staleCapture = true;
        m_fileOpen->open(fileName, QStringLiteral("port ") + portText());
    });
}

void MainWindow::showWindow()
{
    const QRect screen = this->screen()->availableGeometry();
    move(screen.center() - QPoint(width() / 2, height() / 2));
    show();
}

void MainWindow::setBusy(bool busy)
{
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void MainWindow::setOuterHeightTwips(int twips)
{
    // The outer height counts the frame and title bar, which the platform draws.
    const int frame = frameGeometry().height() - geometry().height();
    setFixedHeight(Twips::toPixels(twips) - frame);
}

bool MainWindow::isSet() const
{
    return m_saved1->isChecked();
}

void MainWindow::set(bool value)
{
    m_saved1->setChecked(value);
}

// The log is written while the event loop runs. Until the handler that writes it has
// returned, no other save, clear or port change may start, and the window closes afterwards.
void MainWindow::exclusively(const std::function<void()>& handler)
{
    const QList<QAction*> actions{m_savelog, m_opencapture, m_savecapture, m_clearlist,
                                  m_changeport};
    if (m_exclusive++ == 0) {
        for (QAction* action : actions)
            action->setEnabled(false);
    }
    handler();
    if (--m_exclusive > 0)
        return;
    for (QAction* action : actions)
        action->setEnabled(true);
    if (m_closeWaiting)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::savelog_Click()
{
    exclusively([this] { m_logExport->savelog_Click(); });
}

void MainWindow::opencapture_Click()
{
    exclusively([this] {
        const QString fileName = m_fileOpen->askFileName();
        if (!fileName.isEmpty())
            openCapture(fileName);
    });
}

void MainWindow::savecapture_Click()
{
    exclusively([this] { m_logExport->savecapture_Click(); });
}

void MainWindow::FileExit_Click()
{
    // Ends at once: no capture stop, no offer to save, no prompt.
    m_exit();
}

void MainWindow::clearlist_Click()
{
    exclusively([this] { m_clearList->clearlist_Click(); });
}

void MainWindow::changeport_Click()
{
    exclusively([this] { m_portChange->changeport_Click(); });
}

void MainWindow::ListView1_DblClick()
{
    const QModelIndex current = m_ListView1->currentIndex();
    if (!current.isValid() || !m_ListView1->selectionModel()->isRowSelected(current.row()))
        return;
    if (!m_Form2)
        m_Form2 = new PacketWindow(this);
    m_Form2->setPacket(m_model->store().packet(current.row()));
    m_Form2->exec();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_exclusive > 0) {
        m_closeWaiting = true; // not refused: put off until the log is written
        event->ignore();
        return;
    }
    exclusively([this] {
        m_controller->Form_QueryUnload();
        m_closeWaiting = false; // one asked for meanwhile is this one
    });
    event->accept(); // closing is never refused
}
