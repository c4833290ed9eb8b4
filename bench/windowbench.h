#pragma once

#include <QObject>
#include <QString>

class BenchReport;
class MainWindow;
class QAbstractItemView;

// One burst through the real main window and the real libpcap component on the loopback
// adapter, then Save Log, the detail window and Clear List on the rows it left.
class WindowBench : public QObject
{
    Q_OBJECT

public:
    // A long run also reports what the first and the last million packets cost.
    WindowBench(QString senderProgram, qint64 count, bool longRun = false);

    // Adds the window's figures to report; false (and error()) when the run could not be made.
    bool run(BenchReport& report);
    QString error() const { return m_error; }
    double senderRate() const { return m_senderRate; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool startCapture(MainWindow& window, quint16 port);
    bool burst(MainWindow& window, quint16 port, BenchReport& report);
    void checkRows(MainWindow& window, BenchReport& report);
    void saveLog(MainWindow& window, BenchReport& report);
    void openDetailWindow(MainWindow& window, BenchReport& report);
    void clearList(MainWindow& window, BenchReport& report);
    bool fail(const QString& why);

    // CPU seconds of the whole program (window and helper) and the rows at one moment.
    struct CpuMark
    {
        double cpu = -1;
        qint64 rows = 0;
    };
    void addSlice(BenchReport& report, const char* key, const CpuMark& from,
                  const CpuMark& to) const;

    QString m_senderProgram;
    qint64 m_count;
    bool m_long = false;
    QString m_error;
    double m_senderRate = 0;
    class BenchDialogs* m_dialogs = nullptr;
    MainWindow* m_window = nullptr;
    QAbstractItemView* m_view = nullptr;

    // Filled in by eventFilter.
    qint64 m_firstPaintNs = -1;  // since process start
    qint64 m_paintedRows = -1;   // rows when the last row was last seen painted in a new place
    qint64 m_paintedAtNs = 0;    // monotonic
    qint64 m_detailPaintNs = -1; // monotonic
    qint64 m_viewPaints = 0;
    qint64 m_startNs = 0;      // Start until the helper captures
    qint64 m_rssBeforeKib = 0; // the window's, just before the burst
};
