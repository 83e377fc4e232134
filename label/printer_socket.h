#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// A TCP connection to a label printer's raw port, every wait on it bounded
// by one deadline (milliseconds of a steady clock, as now_ms() counts): a
// printer switched off or a cable pulled costs the deadline, never more.
// Qt's network module is not in the Windows kit; the platform's sockets
// are enough for one short conversation.
class PrinterSocket
{
public:
    PrinterSocket();
    ~PrinterSocket();
    PrinterSocket(const PrinterSocket &) = delete;
    PrinterSocket &operator=(const PrinterSocket &) = delete;

    static qint64 now_ms();

    // False with *error (the system's words) when no connection was made
    // by `deadline_ms`.
    bool connect(const QString &host, quint16 port, qint64 deadline_ms, QString *error);
    // Every byte of `bytes` taken by the connection by then.
    bool send(const QByteArray &bytes, qint64 deadline_ms, QString *error);
    // What arrives until `enough` says it is, the peer closes, or the
    // deadline passes.
    QByteArray receive(const std::function<bool(const QByteArray &)> &enough, qint64 deadline_ms);
    // An orderly close: the printer sees the end of the job, and the close
    // waits for its side up to the deadline; whether it came.
    bool close(qint64 deadline_ms);

private:
    long long socket_;  // the platform's handle; -1: none
};
