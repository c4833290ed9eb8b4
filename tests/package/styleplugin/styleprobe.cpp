// Writes the capability sets of the process that loads it to $HOME/capabilities.txt, then
// serves the Fusion style so that the program goes on as usual.
#include <QFile>
#include <QStyleFactory>
#include <QStylePlugin>

class StyleProbe : public QStylePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "styleprobe.json")

public:
    QStyle* create(const QString&) override
    {
        QFile status(QStringLiteral("/proc/self/status"));
        QFile out(qEnvironmentVariable("HOME") + QStringLiteral("/capabilities.txt"));
        if (status.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Cap"))
                    out.write(line + '\n');
            }
        }
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "styleprobe.moc"
