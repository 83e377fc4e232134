#pragma once

#include "tests/support/pty_pair.h"
#include "worker/module_link.h"
#include "worker/worker_reports.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QThread;
class SerialLink;

// One call the transmitter made on its link, as seen at the moment it
// returned.
struct LinkCall {
    enum Op { write_data, write_byte, wait_for_data, wait_once, read_all, discard_input, read_byte };
    Op op;
    qint64 argument = 0;  // timeout in ms, or the written byte
    qint64 result = 0;    // read_byte's value, a wait's outcome (0/1)
    QByteArray bytes;     // written or read bytes
    qint64 at_ms = 0;     // since the log was created
};

// Thread-safe record of LinkCalls with a bounded wait for a condition on it.
class CallLog
{
public:
    CallLog() { clock.start(); }
    void add(LinkCall call);
    std::vector<LinkCall> snapshot() const;
    // Waits until pred(calls) holds, at most timeout_ms.
    bool wait_until(const std::function<bool(const std::vector<LinkCall> &)> &pred, int timeout_ms) const;
    // Waits until read_byte has returned `value` `occurrence` times in all.
    bool wait_for_read_result(qint8 value, int occurrence, int timeout_ms) const;

private:
    QElapsedTimer clock;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<LinkCall> calls;
};

// Forwards every operation to a real link and records it.
class RecordingLink : public ModuleLink
{
public:
    RecordingLink(ModuleLink &inner, CallLog &log) : inner(inner), log(log) {}
    void write_data(const QByteArray &data) override;
    void write_byte(char byte) override;
    bool wait_for_data(unsigned long timeout_ms) override;
    bool wait_once(unsigned long timeout_ms) override;
    QByteArray read_all() override;
    void discard_input() override;
    qint8 read_byte(quint16 timeout_ms) override;

private:
    ModuleLink &inner;
    CallLog &log;
};

// Everything the transmitter reported; it must only ever log and report
// progress, so the other reports are kept to be checked empty.
class ReportRecorder : public WorkerReports
{
public:
    void report_progress(int bytes_sent) override;
    void report_progress_max(int image_length) override;
    void report_debug(const QString &line) override;
    void report_status(const QString &text, bool ok) override;
    void report_mac_text(const QString &value, quint8 type) override;

    QVector<int> progress() const;
    QStringList debug_lines() const;
    QStringList unexpected() const;

private:
    mutable QMutex mutex;
    QVector<int> progress_values;
    QStringList debug;
    QStringList other;
};

// Runs xmodem_transmit in a thread of its own on a real SerialLink opened on
// the slave of a fresh pty; the test plays the receiver on the master.
class TransmitterRun
{
public:
    static constexpr int not_run = 1000;

    explicit TransmitterRun(QByteArray image, quint8 synced = 0, quint8 block_mode = 0);
    ~TransmitterRun();
    TransmitterRun(const TransmitterRun &) = delete;
    TransmitterRun &operator=(const TransmitterRun &) = delete;

    // Passes this length instead of the image's size (bad-input cases).
    void set_length(qint32 length) { length_override = length; }
    // Starts the thread and returns once the port is open (false if it could
    // not be opened within timeout_ms).
    bool start(int timeout_ms = 5000);
    // True when the transmitter returned within timeout_ms.
    bool finish(int timeout_ms);
    int result() const { return result_code.load(); }
    qint64 elapsed_ms() const { return run_time_ms.load(); }

    PtyPair pty;
    ReportRecorder reports;
    CallLog calls;
    std::atomic<quint8> block_mode;

private:
    void body();

    QByteArray image;
    quint8 synced;
    std::optional<qint32> length_override;
    QThread *thread = nullptr;
    std::atomic<int> result_code {not_run};
    std::atomic<qint64> run_time_ms {-1};

    std::mutex state_mutex;
    std::condition_variable state_changed;
    bool open_done = false;
    bool opened = false;
    bool stop_wanted = false;
    SerialLink *live_link = nullptr;
};

// Bytes the master has now, without waiting: used once the transmitter has
// returned, when everything it wrote is already in the pty.
QByteArray pending_bytes(int fd);
