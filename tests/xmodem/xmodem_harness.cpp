#include "tests/xmodem/xmodem_harness.h"

#include "worker/serial_link.h"
#include "xmodem/xmodem_transmitter.h"

#include <QMutexLocker>
#include <QThread>

#include <chrono>
#include <poll.h>
#include <unistd.h>

void CallLog::add(LinkCall call)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        call.at_ms = clock.elapsed();
        calls.push_back(std::move(call));
    }
    changed.notify_all();
}

std::vector<LinkCall> CallLog::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}

bool CallLog::wait_until(const std::function<bool(const std::vector<LinkCall> &)> &pred, int timeout_ms) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return pred(calls); });
}

bool CallLog::wait_for_read_result(qint8 value, int occurrence, int timeout_ms) const
{
    return wait_until(
        [=](const std::vector<LinkCall> &calls) {
            int seen = 0;
            for (const LinkCall &c : calls)
                if (c.op == LinkCall::read_byte && c.result == value)
                    ++seen;
            return seen >= occurrence;
        },
        timeout_ms);
}

void RecordingLink::write_data(const QByteArray &data)
{
    inner.write_data(data);
    log.add({LinkCall::write_data, data.size(), 0, QByteArray(data.constData(), data.size())});
}

void RecordingLink::write_byte(char byte)
{
    inner.write_byte(byte);
    log.add({LinkCall::write_byte, static_cast<quint8>(byte), 0, QByteArray(1, byte)});
}

bool RecordingLink::wait_for_data(unsigned long timeout_ms)
{
    const bool got = inner.wait_for_data(timeout_ms);
    log.add({LinkCall::wait_for_data, qint64(timeout_ms), got, {}});
    return got;
}

bool RecordingLink::wait_once(unsigned long timeout_ms)
{
    const bool got = inner.wait_once(timeout_ms);
    log.add({LinkCall::wait_once, qint64(timeout_ms), got, {}});
    return got;
}

QByteArray RecordingLink::read_all()
{
    const QByteArray bytes = inner.read_all();
    log.add({LinkCall::read_all, 0, bytes.size(), bytes});
    return bytes;
}

void RecordingLink::discard_input()
{
    inner.discard_input();
    log.add({LinkCall::discard_input, 0, 0, {}});
}

qint8 RecordingLink::read_byte(quint16 timeout_ms)
{
    const qint8 value = inner.read_byte(timeout_ms);
    log.add({LinkCall::read_byte, timeout_ms, value, {}});
    return value;
}

void ReportRecorder::report_progress(int bytes_sent)
{
    QMutexLocker lock(&mutex);
    progress_values.append(bytes_sent);
}

void ReportRecorder::report_progress_max(int image_length)
{
    QMutexLocker lock(&mutex);
    other.append(QStringLiteral("progress_max %1").arg(image_length));
}

void ReportRecorder::report_debug(const QString &line)
{
    QMutexLocker lock(&mutex);
    debug.append(line);
}

void ReportRecorder::report_status(const QString &text, bool ok)
{
    QMutexLocker lock(&mutex);
    other.append(QStringLiteral("status %1 %2").arg(text).arg(ok));
}

void ReportRecorder::report_mac_text(const QString &value, quint8 type)
{
    QMutexLocker lock(&mutex);
    other.append(QStringLiteral("mac_text %1 %2").arg(value).arg(type));
}

QVector<int> ReportRecorder::progress() const
{
    QMutexLocker lock(&mutex);
    return progress_values;
}

QStringList ReportRecorder::debug_lines() const
{
    QMutexLocker lock(&mutex);
    return debug;
}

QStringList ReportRecorder::unexpected() const
{
    QMutexLocker lock(&mutex);
    return other;
}

TransmitterRun::TransmitterRun(QByteArray image, quint8 synced, quint8 block_mode)
    : block_mode(block_mode), image(std::move(image)), synced(synced)
{
}

TransmitterRun::~TransmitterRun()
{
    if (!thread)
        return;
    // A failed test may leave the transmitter waiting on a silent line; a
    // stop makes its waits return at once so it ends by its own rules.
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        stop_wanted = true;
        if (live_link)
            live_link->request_stop();
    }
    thread->wait(60000);
    delete thread;
}

bool TransmitterRun::start(int timeout_ms)
{
    if (!pty.ok() || thread)
        return false;
    thread = QThread::create([this] { body(); });
    thread->start();
    std::unique_lock<std::mutex> lock(state_mutex);
    state_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return open_done; });
    return opened;
}

bool TransmitterRun::finish(int timeout_ms)
{
    return thread && thread->wait(static_cast<unsigned long>(timeout_ms));
}

void TransmitterRun::body()
{
    // The port lives and dies in this thread, as it does in the worker.
    SerialLink serial;
    const bool ok = serial.open(pty.slave_path());
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        open_done = true;
        opened = ok;
        live_link = &serial;
        if (stop_wanted)
            serial.request_stop();
    }
    state_changed.notify_all();

    if (ok) {
        RecordingLink link(serial, calls);
        QElapsedTimer timer;
        timer.start();
        const qint32 length = length_override ? *length_override : image.size();
        result_code = xmodem_transmit(link, reports, image.constData(), length, synced, block_mode);
        run_time_ms = timer.elapsed();
    }

    std::lock_guard<std::mutex> lock(state_mutex);
    live_link = nullptr;
}

QByteArray pending_bytes(int fd)
{
    QByteArray out;
    for (;;) {
        pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
    }
    return out;
}
