#pragma once

#include "captureview.h"
#include "dialogs.h"
#include "unsavedflag.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class CaptureComponent;
class CaptureController;
class CaptureFileOpen;
class ClearList;
class Dialogs;
class LogExport;
class PacketListModel;
class PacketListView;
class PacketWindow;
class PortChange;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QStatusBar;
class QToolButton;

// The main window: the packet list, the adapter lists, the start/stop controls and the status
// bar. It owns the capture component and the packets for as long as the program runs, and keeps
// two values the user never sees: the port text and the unsaved flag.
class MainWindow : public QMainWindow, public CaptureView, public UnsavedFlag
{
    Q_OBJECT

public:
    // Without dialogs of its own the window shows the standard ones.
    explicit MainWindow(std::unique_ptr<CaptureComponent> component,
                        std::unique_ptr<Dialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence; it shows the window part-way through. With a capture file named,
    // the window lists the file instead of asking for an adapter.
    void Form_Load(const QString& captureFile = {});
    // Stops a running capture, offers the log of unsaved rows and replaces the list with the
    // file's packets on the watched port.
    void openCapture(const QString& fileName);

    PacketListModel& model() const { return *m_model; }
    CaptureComponent& component() const { return *m_oPacketX; }
    CaptureController& controller() const { return *m_controller; }
    // What File > Exit does to end the program (tests replace it).
    void setExitHandler(std::function<void()> handler) { m_exit = std::move(handler); }

    // CaptureView
    void addListColumns() override;
    void clearAdapterLists() override;
    void addAdapterEntries(const QString& list1Entry, const QString& comboEntry) override;
    int comboEntryCount() const override;
    QString comboEntry(int index) const override;
    void setComboText(const QString& text) override;
    void setPortPanel(const QString& text) override;
    void setStatusPanel(const QString& text) override;
    void setCaptureState(CaptureState state) override;
    CaptureState captureState() const override;
    QString portText() const override;
    void setPortText(const QString& text) override;
    bool isUnsaved() const override { return isSet(); }
    void runLogExport() override { savelog_Click(); }
    void setBusy(bool busy) override;
    void showWindow() override;
    void setOuterHeightTwips(int twips) override;

    // UnsavedFlag
    bool isSet() const override;
    void set(bool value) override;

public slots:
    void savelog_Click();
    void opencapture_Click();
    void savecapture_Click();
    void FileExit_Click();
    void clearlist_Click();
    void changeport_Click();
    void ListView1_DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createStatusBar(QWidget* client);
    void showDropped(quint64 dropped);
    void createActions();
    void createMenus();
    void setKeyboardOrder();
    void connectCapture();
    bool isStrayWheel(QObject* watched, QEvent* event) const;
    void exclusively(const std::function<void()>& handler);

    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<CaptureComponent> m_oPacketX;
    PacketListModel* m_model = nullptr;
    std::unique_ptr<CaptureController> m_controller;
    std::unique_ptr<LogExport> m_logExport;
    std::unique_ptr<CaptureFileOpen> m_fileOpen;
    std::unique_ptr<ClearList> m_clearList;
    std::unique_ptr<PortChange> m_portChange;
    std::function<void()> m_exit;
    // Handlers that may write the log run one at a time; a close waits for them.
    int m_exclusive = 0;
    bool m_closeWaiting = false;
    // The list holds a file since the last capture stopped: what that capture still delivers
    // belongs to the list the file replaced. Until the next start.
    bool m_staleCapture = false;

    QWidget* m_client = nullptr;
    PacketListView* m_ListView1 = nullptr;
    QLabel* m_Label1 = nullptr;
    QComboBox* m_combo1 = nullptr;
    QStatusBar* m_StatusBar1 = nullptr;
    QLabel* m_panels[4] = {};
    QToolButton* m_btnstop = nullptr;
    QToolButton* m_btnstart = nullptr;
    QListWidget* m_List1 = nullptr;
    QLineEdit* m_port = nullptr;
    QCheckBox* m_saved1 = nullptr;
    PacketWindow* m_Form2 = nullptr;

    QAction* m_savelog = nullptr;
    QAction* m_opencapture = nullptr;
    QAction* m_savecapture = nullptr;
    QAction* m_FileExit = nullptr;
    QAction* m_CaptureStart = nullptr;
    QAction* m_CaptureStop = nullptr;
    QAction* m_clearlist = nullptr;
    QAction* m_changeport = nullptr;
};
