#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The tests' CUPS scheduler (tests/support/cups_server.sh) in a folder of its
// own, with one raw queue whose device keeps each job's bytes as a file: what
// a label printer behind a CUPS queue is sent. While it runs, CUPS_SERVER
// names it to lp. Needs root, as cupsd does; error() says why it did not
// start.
class CupsServer
{
public:
    explicit CupsServer(const QString &queue);
    ~CupsServer();
    bool running() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    // Not root, or no cupsd: a machine where the test cannot run.
    bool cannot_run_here() const { return cannot_run_here_; }

    struct Job
    {
        QByteArray bytes;
        QString title;
    };
    // The jobs the queue's device has taken whole, in the order of their ids.
    QList<Job> jobs() const;

private:
    QTemporaryDir dir;
    QProcess cupsd;
    QString error_;
    bool cannot_run_here_ = false;
};
