#pragma once

#include "interfaces/module_link.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class QSerialPort;

// One serial port, opened at 115200 8N1, and the blocking operations of
// ModuleLink on it. A SerialLink belongs to the thread that calls its
// members: the port is created, used and destroyed there and nowhere else
// (QSerialPort is not thread-safe). Only request_stop() may be called from
// another thread.
//
// Waits follow the data-arrival notifications of the port: each readyRead
// counts as one notification. The count is sampled before every write, so
// data that arrives between a write and the wait that follows it still ends
// that wait at once.
class SerialLink : public ModuleLink
{
public:
    // A line that never falls quiet for 3 ms ends a wait_for_data after this
    // long, so a babbling device cannot hold a conversation for ever.
    static constexpr unsigned long max_burst_ms = 2000;
    // A write that cannot be handed to the system within this time gives up.
    static constexpr int write_timeout_ms = 5000;

    SerialLink();
    ~SerialLink() override;
    SerialLink(const SerialLink &) = delete;
    SerialLink &operator=(const SerialLink &) = delete;

    bool open(const QString &port_name);
    void close();
    // Closes and destroys the port object; the owning thread calls it before
    // it ends.
    void release();
    bool is_open() const;

    // Called for every readyRead of the port, on the owning thread. The
    // default counts the notification; an owner may route it through its own
    // slot, which must then call note_data_arrival().
    void set_arrival_handler(std::function<void()> handler);
    void note_data_arrival();

    // Thread-safe. From now on every wait returns false at once and writes
    // are dropped, so a running conversation ends quickly by its own rules.
    void request_stop();
    bool stop_requested() const;
    // Thread-safe. Every wait returns false at once from now on, but writes
    // still go out, so the conversation can tell the module it is abandoned.
    void request_cancel();
    bool cancel_requested() const override;
    // Thread-safe. Ends the effect of request_cancel(), for the next operation.
    void clear_cancel() { cancel.store(false, std::memory_order_release); }

    void write_data(const QByteArray &data) override;
    void write_byte(char byte) override;
    bool wait_for_data(unsigned long timeout_ms) override;
    bool wait_once(unsigned long timeout_ms) override;
    QByteArray read_all() override;
    void discard_input() override;
    qint8 read_byte(quint16 timeout_ms) override;

private:
    bool usable() const;
    void write_raw(const QByteArray &data);
    void pull_pending();
    bool check_port_error();
    void sleep_unless_stopped(qint64 ms);

    QSerialPort *port = nullptr;
    std::function<void()> arrival_handler;
    quint64 notifications = 0;
    quint64 seen_notifications = 0;

    std::atomic_bool stop{false};
    std::atomic_bool cancel{false};
    std::mutex mutex;                    // held only around a sleep on data_ready
    std::condition_variable data_ready;  // woken by request_stop while no port is usable
};
