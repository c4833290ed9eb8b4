#include "loopback.h"

#include "capturecomponent.h"

int adapterIndex(const CaptureComponent& component, const QString& name)
{
    const QList<CaptureAdapter> adapters = component.adapters();
    for (int i = 0; i < adapters.size(); ++i) {
        if (adapters[i].name == name)
            return i;
    }
    return -1;
}
