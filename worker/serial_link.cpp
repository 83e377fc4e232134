#include "worker/serial_link.h"

#include "worker/worker_log.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>

namespace {
// Longest single poll of the port; bounds how late a stop request is seen.
constexpr qint64 poll_slice_ms = 25;
}

SerialLink::SerialLink() = default;

SerialLink::~SerialLink()
{
    release();
}

bool SerialLink::open(const QString &port_name)
{
    // A previous port object is never used again.
    release();
    port = new QSerialPort(port_name);
    qCDebug(link_log) << "open:" << port_name;
    if (!port->open(QIODevice::ReadWrite)) {
        qCDebug(link_log) << "usb serialport open error";
        delete port;
        port = nullptr;
        return false;
    }
    port->flush();
    port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    // Direct: readyRead is emitted inside this thread's own waits.
    QObject::connect(port, &QSerialPort::readyRead, [this] {
        if (arrival_handler)
            arrival_handler();
        else
            note_data_arrival();
    });
    notifications = seen_notifications = 0;
    qCDebug(link_log) << "usb serialport open";
    return true;
}

void SerialLink::close()
{
    if (port && port->isOpen())
        port->close();
}

bool SerialLink::is_open() const
{
    return usable();
}

void SerialLink::set_arrival_handler(std::function<void()> handler)
{
    arrival_handler = std::move(handler);
}

void SerialLink::note_data_arrival()
{
    ++notifications;
}

void SerialLink::request_stop()
{
    stop.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> locker(mutex);
    data_ready.notify_all();
}

bool SerialLink::stop_requested() const
{
    return stop.load(std::memory_order_acquire);
}

void SerialLink::request_cancel()
{
    cancel.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> locker(mutex);
    data_ready.notify_all();
}

bool SerialLink::cancel_requested() const
{
    return cancel.load(std::memory_order_acquire);
}

bool SerialLink::usable() const
{
    return port && port->isOpen();
}

void SerialLink::release()
{
    if (!port)
        return;
    if (port->isOpen())
        port->close();
    delete port;
    port = nullptr;
}

// After a failed poll: a time-out is normal, anything else means the device is
// gone or broken. Qt 5 keeps reporting a vanished pty as ReadError in a busy
// loop, so the port is closed on the first such error and the conversation
// runs into its own time-outs.
bool SerialLink::check_port_error()
{
    const QSerialPort::SerialPortError error = port->error();
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        port->clearError();
        return true;
    }
    qCDebug(link_log) << "serial error:" << error << port->errorString();
    port->clearError();
    port->close();
    return false;
}

void SerialLink::pull_pending()
{
    if (!usable() || stop_requested())
        return;
    if (!port->waitForReadyRead(0))
        check_port_error();
}

void SerialLink::sleep_unless_stopped(qint64 ms)
{
    std::unique_lock<std::mutex> locker(mutex);
    if (ms > 0)
        data_ready.wait_for(locker, std::chrono::milliseconds(ms),
                            [this] { return stop_requested() || cancel_requested(); });
}

void SerialLink::write_raw(const QByteArray &data)
{
    seen_notifications = notifications;
    port->write(data);
    // Without an event loop QSerialPort only buffers: hand everything to the
    // system before returning, as a write on a real port does. flush() writes
    // what the system takes at once; a full buffer is waited out below.
    port->flush();
    QElapsedTimer timer;
    timer.start();
    while (usable() && port->bytesToWrite() > 0 && !stop_requested()
           && timer.elapsed() < write_timeout_ms) {
        if (!port->waitForBytesWritten(static_cast<int>(poll_slice_ms)) && !check_port_error())
            break;
    }
}

void SerialLink::write_data(const QByteArray &data)
{
    if (!usable() || stop_requested()) {
        qCDebug(link_log) << "serial not opened";
        return;
    }
    qCDebug(link_log) << "write len:" << data.size();
    write_raw(data);
}

void SerialLink::write_byte(char byte)
{
    if (!usable() || stop_requested()) {
        qCDebug(link_log) << "serial not opened";
        return;
    }
    write_raw(QByteArray(1, byte));
}

bool SerialLink::wait_once(unsigned long timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    const qint64 timeout = static_cast<qint64>(timeout_ms);
    for (;;) {
        if (stop_requested() || cancel_requested())
            return false;
        if (notifications != seen_notifications) {
            seen_notifications = notifications;
            return true;
        }
        const qint64 remaining = timeout - timer.elapsed();
        if (remaining <= 0)
            return false;
        if (!usable()) {
            sleep_unless_stopped(remaining);
            continue;
        }
        if (!port->waitForReadyRead(static_cast<int>(std::min(remaining, poll_slice_ms))))
            check_port_error();
    }
}

bool SerialLink::wait_for_data(unsigned long timeout_ms)
{
    if (!wait_once(timeout_ms))
        return false;
    QElapsedTimer burst;
    burst.start();
    while (wait_once(3)) {
        if (burst.elapsed() >= static_cast<qint64>(max_burst_ms)) {
            qCDebug(link_log) << "data without pause for" << burst.elapsed() << "ms";
            break;
        }
    }
    return true;
}

QByteArray SerialLink::read_all()
{
    pull_pending();
    if (!usable())
        return QByteArray();
    seen_notifications = notifications;
    return port->readAll();
}

void SerialLink::discard_input()
{
    read_all();
}

qint8 SerialLink::read_byte(quint16 timeout_ms)
{
    // Nothing buffered yet: the wait returns at once for bytes the system
    // already holds, so no separate poll is needed first.
    if (!usable() || port->bytesAvailable() <= 0) {
        if (!wait_once(timeout_ms))
            return -1;
    }
    const QByteArray bytes = usable() ? port->readAll() : QByteArray();
    seen_notifications = notifications;
    qCDebug(link_log) << "array:" << bytes;
    if (bytes.isEmpty())
        return -1;
    return static_cast<qint8>(bytes.at(0));
}
