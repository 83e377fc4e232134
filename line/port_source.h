#pragma once

#include "discovery/port_rules.h"

#include <QList>
#include <QObject>
#include <QString>

// A module port as a walk found it, with its node's stamp
// (port_node_stamp): a module swapped for another between two walks keeps
// the port's name but not the stamp.
struct FoundPort
{
    ModulePort port;
    QString stamp;
};

// Where line mode learns which module ports are present: the USB tree
// (UsbPortSource), or a test's own list. A walk is asked for and answered
// by walked(), later or at once; changed() says a walk is worth making now.
class PortSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts following the system's device changes; false when it delivers
    // none (only the periodic walk finds modules then).
    virtual bool follow_changes() = 0;
    // Asks for a walk; walked() follows. Walks asked for while one is being
    // made give one more walk after it, not one each.
    virtual void walk() = 0;

signals:
    // Ports may have come or gone.
    void changed();
    void walked(const QList<FoundPort> &ports);
};
