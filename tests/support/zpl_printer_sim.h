#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QTcpServer>

#include <functional>

// A label printer's raw port on 127.0.0.1, on the test's event loop: it
// answers ~HS with the state set here and keeps every job (^XA … ^XZ) that
// arrives whole. `silent`: connections are taken and never answered.
class ZplPrinterSim : public QObject
{
public:
    ZplPrinterSim();
    quint16 port() const { return server.serverPort(); }
    // A printer switched off: connections are refused.
    void switch_off() { server.close(); }

    bool paper_out = false, paused = false, head_open = false, silent = false;
    QByteArrayList jobs;
    int status_asked = 0;
    // Called as each job has arrived whole (a benchmark times it).
    std::function<void(const QByteArray &job)> on_job;

private:
    QTcpServer server;
};
