#pragma once

#include <QObject>

// Tells a front end without a window that serial ports may have come or
// gone, so that it looks for modules again at once: udev and the injected
// events on Linux; on Windows device-interface notifications for COM ports,
// received by a message-only window of its own in the thread that makes it
// (Qt's event dispatcher pumps that thread's messages). The window's own
// device-change handling is apart from this.
class PortChangeNotifier : public QObject
{
    Q_OBJECT

public:
    explicit PortChangeNotifier(QObject *parent = nullptr);
    ~PortChangeNotifier() override;

    // False when the system would not deliver notifications: only a rescan
    // finds modules then.
    bool listening() const;

signals:
    void ports_changed();

private:
    struct Private;
    Private *d;
};
