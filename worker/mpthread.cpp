#include "worker/mpthread.h"

#include "protocol/device_query.h"
#include "protocol/download_session.h"
#include "xmodem/xmodem_transmitter.h"

#include <QDebug>

#include <chrono>

MPThread::MPThread(QObject *parent)
    : QThread(parent)
{
    // Data-arrival notifications of the port reach com_read_data, on the
    // worker thread, inside the link's own waits.
    link.set_arrival_handler([this] { com_read_data(); });
}

MPThread::~MPThread()
{
    // Destroying a running QThread aborts the process; the window stops the
    // worker first, this is the last guard.
    stop_and_wait();
}

void MPThread::stop_and_wait()
{
    request_stop();
    wait();
    std::lock_guard<std::mutex> finished(lifetime_mutex);
}

void MPThread::request_stop()
{
    stop.store(true, std::memory_order_release);
    link.request_stop();
    std::lock_guard<std::mutex> locker(command_mutex);
    command_posted.notify_all();
}

int MPThread::__start_flash(flash_parameter param, quint8 type)
{
    if (type <= operation::firmware_upgrade) {
        {
            std::lock_guard<std::mutex> locker(request_mutex);
            request = param;
            request_type = type;
        }
        request_pending.store(true, std::memory_order_release);
    } else if (type == operation::select_1k_blocks) {
        block_mode.store(0);
    } else if (type == operation::select_256_blocks) {
        block_mode.store(1);
    } else if (type > 128) {
        device_kind.store(type & 0x0F);
    }
    return 0;
}

bool MPThread::open_serial_port(QString port_name, QString)
{
    auto command = std::make_shared<LinkCommand>();
    command->kind = LinkCommand::open;
    command->port_name = port_name;
    return post_link_command(command);
}

void MPThread::close_serial_port()
{
    emit ui_debug(QStringLiteral("close serial port"));
    auto command = std::make_shared<LinkCommand>();
    command->kind = LinkCommand::close;
    post_link_command(command);
}

void MPThread::com_read_data()
{
    // Only the link's own waits on the worker thread deliver notifications.
    if (QThread::currentThread() == this)
        link.note_data_arrival();
}

bool MPThread::post_link_command(const std::shared_ptr<LinkCommand> &command)
{
    if (!isRunning() || stop.load(std::memory_order_acquire)) {
        qDebug() << "worker not running";
        return false;
    }
    std::unique_lock<std::mutex> locker(command_mutex);
    link_commands.append(command);
    command_posted.notify_all();
    const bool done = command_done.wait_for(locker, std::chrono::milliseconds(link_command_timeout_ms),
                                            [&] { return command->done; });
    if (!done) {
        // An open nobody waits for any more must not happen later behind the
        // window's back; a close still takes effect before the next open.
        qDebug() << "worker busy: serial port request not served in time";
        if (command->kind == LinkCommand::open)
            command->abandoned = true;
        return false;
    }
    return command->result;
}

void MPThread::serve_link_commands()
{
    std::unique_lock<std::mutex> locker(command_mutex);
    while (!link_commands.isEmpty()) {
        const std::shared_ptr<LinkCommand> command = link_commands.takeFirst();
        if (command->abandoned)
            continue;
        locker.unlock();
        bool result = true;
        if (command->kind == LinkCommand::open)
            result = link.open(command->port_name);
        else
            link.close();
        locker.lock();
        command->result = result;
        command->done = true;
        command_done.notify_all();
    }
}

void MPThread::idle_wait(unsigned long ms)
{
    std::unique_lock<std::mutex> locker(command_mutex);
    if (link_commands.isEmpty() && !stop.load(std::memory_order_acquire))
        command_posted.wait_for(locker, std::chrono::milliseconds(ms));
}

void MPThread::run()
{
    request_pending.store(false, std::memory_order_release);
    qDebug() << "run";
    while (!stop.load(std::memory_order_acquire)) {
        serve_link_commands();
        if (request_pending.load(std::memory_order_acquire))
            run_request();
        idle_wait(20);
    }
    // Answer whatever the window still waits for, then give the port back in
    // the thread that owns it.
    std::unique_lock<std::mutex> locker(command_mutex);
    for (const auto &command : qAsConst(link_commands)) {
        command->result = false;
        command->done = true;
    }
    link_commands.clear();
    command_done.notify_all();
    locker.unlock();
    link.release();
    std::lock_guard<std::mutex> finished(lifetime_mutex);
}

int MPThread::query_once()
{
    return device_kind.load() != 0 ? query_cellular_info() : query_device_info();
}

void MPThread::run_request()
{
    emit burn_show(false);
    bool found = false;
    for (int attempt = 0; attempt < 5 && !found; ++attempt)
        found = query_once() == 0;
    if (!found) {
        emit mac_done(false);
        request_pending.store(false, std::memory_order_release);
        return;
    }
    emit mac_done(true);

    flash_parameter copy;
    quint8 type;
    {
        std::lock_guard<std::mutex> locker(request_mutex);
        copy = request;
        type = request_type;
    }
    if (type == operation::device_query) {
        request_pending.store(false, std::memory_order_release);
        emit burn_done(false);
        return;
    }
    if (update_image(copy, type) == 0) {
        emit burn_done(true);
    } else {
        emit burn_done(false);
        emit ui_set_status_text(QStringLiteral("下载失败"), false);
    }
    request_pending.store(false, std::memory_order_release);
}

int MPThread::query_device_info()
{
    return query_wifi_module(link, *this);
}

int MPThread::query_cellular_info()
{
    return query_cellular_module(link, *this);
}

int MPThread::update_image(flash_parameter request, quint8 type)
{
    return ::update_image(link, *this, request, type, block_mode);
}

int MPThread::download_image(flash_parameter request, quint8 type)
{
    return ::download_image(link, *this, request, type, block_mode);
}

int MPThread::xmodem_transmit(const char *image, qint32 length, quint8 synced)
{
    return ::xmodem_transmit(link, *this, image, length, synced, block_mode);
}
