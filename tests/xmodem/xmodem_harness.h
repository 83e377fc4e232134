#pragma once

#include "tests/support/pty_pair.h"
#include "tests/support/report_recorder.h"
#include "worker/module_link.h"

#include <QByteArray>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QThread;
class SerialLink;

// Runs xmodem_transmit in a thread of its own on a SerialLink opened on the
// slave of a fresh pty; the test plays the receiver on pty.master(). The run
// is the transmitter's link: it passes every call on to the SerialLink and
// notes each wait for a reply ("r<ms>" for a reply byte, "w<ms>" after EOT)
// and each discard ("d") as it begins, so a test can answer exactly when the
// transmitter listens.
class TransmitterRun : public ModuleLink
{
public:
    TransmitterRun(QByteArray image, qint32 length, quint8 synced = 0, quint8 block_mode = 0);
    ~TransmitterRun() override;

    bool start();                     // false when the port did not open
    bool finish(int timeout_ms);      // true once the transmitter has returned
    int result() const { return result_code; }
    qint64 elapsed_ms() const { return run_ms; }
    // Waits until the transmitter has begun its count-th wait for a reply.
    bool wait_for_listen(int count, int timeout_ms);
    QString ops();

    PtyPair pty;
    ReportRecorder reports;  // read it only after finish()

    void write_data(const QByteArray &data) override;
    void write_byte(char byte) override;
    bool wait_for_data(unsigned long timeout_ms) override;
    bool wait_once(unsigned long timeout_ms) override;
    QByteArray read_all() override;
    void discard_input() override;
    qint8 read_byte(quint16 timeout_ms) override;

private:
    void body();
    void note(const QString &op, bool listens);

    QByteArray image;
    qint32 length;
    quint8 synced;
    std::atomic<quint8> block_mode;
    QThread *thread = nullptr;
    SerialLink *link = nullptr;
    std::atomic<int> result_code {1000};
    std::atomic<qint64> run_ms {-1};
    std::atomic_bool done {false};

    std::mutex mutex;
    std::condition_variable changed;
    bool open_done = false, opened = false, stopping = false;
    QStringList op_list;
    int listens = 0;
};
