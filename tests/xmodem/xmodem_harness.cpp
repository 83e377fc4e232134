#include "tests/xmodem/xmodem_harness.h"

#include "worker/serial_link.h"
#include "xmodem/xmodem_transmitter.h"

#include <QElapsedTimer>
#include <QThread>

#include <chrono>

TransmitterRun::TransmitterRun(QByteArray image, qint32 length, quint8 synced, quint8 block_mode)
    : image(std::move(image)), length(length), synced(synced), block_mode(block_mode)
{
}

TransmitterRun::~TransmitterRun()
{
    if (!thread)
        return;
    // After a failed test the transmitter may still be waiting on a silent
    // line: a stop makes its waits end at once.
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        if (link)
            link->request_stop();
    }
    thread->wait(60000);
    delete thread;
}

bool TransmitterRun::start()
{
    if (!pty.ok() || thread)
        return false;
    thread = QThread::create([this] { body(); });
    thread->start();
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(5), [this] { return open_done; });
    return opened;
}

bool TransmitterRun::finish(int timeout_ms)
{
    // done is stored last by the thread: loading it orders its reports before ours.
    return thread && thread->wait(unsigned(timeout_ms)) && done.load();
}

bool TransmitterRun::wait_for_listen(int count, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return listens >= count; });
}

QString TransmitterRun::ops()
{
    std::lock_guard<std::mutex> lock(mutex);
    return op_list.join(QLatin1Char(' '));
}

void TransmitterRun::note(const QString &op, bool listening)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        op_list.append(op);
        listens += listening ? 1 : 0;
    }
    changed.notify_all();
}

void TransmitterRun::body()
{
    // The port lives and dies in this thread, as it does in the worker.
    SerialLink serial;
    const bool ok = serial.open(pty.slave_path());
    {
        std::lock_guard<std::mutex> lock(mutex);
        open_done = true;
        opened = ok;
        link = &serial;
        if (stopping)
            serial.request_stop();
    }
    changed.notify_all();
    if (ok) {
        QElapsedTimer timer;
        timer.start();
        result_code = xmodem_transmit(*this, reports, image.constData(), length, synced, block_mode);
        run_ms = timer.elapsed();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        link = nullptr;
    }
    done = true;
}

void TransmitterRun::write_data(const QByteArray &data) { link->write_data(data); }
void TransmitterRun::write_byte(char byte) { link->write_byte(byte); }
bool TransmitterRun::wait_once(unsigned long timeout_ms) { return link->wait_once(timeout_ms); }
QByteArray TransmitterRun::read_all() { return link->read_all(); }
// The waits and the discard are noted before they begin: a reply written once
// a wait is noted arrives while the transmitter listens.
void TransmitterRun::discard_input()
{
    note(QStringLiteral("d"), false);
    link->discard_input();
}

bool TransmitterRun::wait_for_data(unsigned long timeout_ms)
{
    note(QStringLiteral("w%1").arg(timeout_ms), true);
    return link->wait_for_data(timeout_ms);
}

qint8 TransmitterRun::read_byte(quint16 timeout_ms)
{
    note(QStringLiteral("r%1").arg(timeout_ms), true);
    return link->read_byte(timeout_ms);
}
