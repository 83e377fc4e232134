#pragma once

#include <QObject>

// Device-change notifications that do not arrive as native window messages.
// Emits device_changed on the GUI thread with the Windows event code
// (0x8000 arrival, 0x8004 removal complete) and whether a removal concerned a
// volume with flags 0. Where the window receives the system's own messages
// this source stays silent.
class DeviceChangeSource : public QObject
{
    Q_OBJECT

public:
    explicit DeviceChangeSource(QObject *parent = nullptr);
    ~DeviceChangeSource() override;

signals:
    void device_changed(quint32 event_code, bool volume_with_zero_flags);

private:
    struct Private;
    Private *d = nullptr;
};
