#pragma once

#include "journal/journal.h"
#include "journal/operation_record.h"
#include "interfaces/failure.h"
#include "interfaces/flash_parameter.h"
#include "worker/serial_link.h"
#include "interfaces/worker_reports.h"

#include <QElapsedTimer>
#include <QList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The one worker. Its object lives in the GUI thread, so its slots run there,
// inside the window's emits; run() and the conversations it calls run on the
// worker thread. The serial port is created, used and closed only on the
// worker thread: open and close requests from the window are handed over and
// answered synchronously.
class MPThread : public QThread, private WorkerReports
{
    Q_OBJECT

public:
    explicit MPThread(QObject *parent = nullptr);
    ~MPThread() override;

    // Thread-safe. Ends the loop; a running conversation sees every wait time
    // out at once and ends by its own rules.
    void request_stop();
    // request_stop(), then waits for the thread to end.
    void stop_and_wait();
    // Thread-safe. Abandons the operation that is running or waiting to run:
    // waits end at once and no further command goes out, but writes still
    // do, so a module that may be receiving is told so on the wire. The
    // operation's record fails with `why`. A cancel while no operation is
    // pending is dropped: it never reaches a later one.
    void request_cancel(Failure why = Failure::interrupted);

    // Where the record of every operation goes, called on the worker thread
    // when the operation ends and before the signals that end it reach the
    // front end; its notices go to the log pane. Set before start().
    using RecordSink = std::function<JournalOutcome(const OperationRecord &)>;
    void set_record_sink(RecordSink sink) { record_sink = std::move(sink); }
    // Set before start() by a front end that checked the image once: a
    // download whose image no longer has this SHA-256 (lower-case hex) sends
    // the module nothing and fails with image_changed.
    void set_image_check(const QByteArray &sha256) { image_check = sha256; }
    // Set before start() by a front end that serves each module once: called
    // on the worker thread with the record as the identity query left it,
    // before the download command; it may add to the record what it found.
    // served_just_now: the module has had this operation already (back in
    // its place after it); it hears nothing more and the operation ends
    // without a record of its own (FinishedOperation::already_done).
    // refused: it hears nothing more, and its record fails as done_before.
    enum class IdentityVerdict { serve, served_just_now, refused };
    using IdentityCheck = std::function<IdentityVerdict(OperationRecord &)>;
    void set_identity_check(IdentityCheck check) { identity_check = std::move(check); }
    // Thread-safe, and never waits, unlike open_serial_port: the worker opens
    // the port between operations, then posts the operation `then` itself,
    // with no round trip through the front end's thread, and tells how the
    // open went with port_opened(). A port that does not open runs nothing.
    // A cancel while the port opens is the operation's. For a front end
    // that serves many modules at once.
    void open_serial_port_later(const QString &port_name, const flash_parameter &then, quint8 then_type);
    // Thread-safe. Hands a record the front end made itself (a port that did
    // not open) to the sink, on the worker thread, without waiting for it.
    void post_record(const OperationRecord &record);

    struct FinishedOperation
    {
        OperationRecord record;
        JournalOutcome journal;
        bool already_done = false;
    };
    // Set before start() by a front end that takes the finished operations;
    // for any other (the window) none are kept, so nothing grows with the
    // number of operations.
    void keep_finished_operations() { keeping_finished = true; }
    // Thread-safe. The operations that ended since the last call, oldest
    // first. (They are handed over under a lock rather than as signal
    // arguments, so that the handover is visible to ThreadSanitizer.)
    QList<FinishedOperation> take_finished_operations();
    // Thread-safe. How many finished operations wait to be taken.
    int finished_operations_waiting();

    // Serial link operations; worker thread only.
    void write_data(const QByteArray &data) { link.write_data(data); }
    void write_byte(char byte) { link.write_byte(byte); }
    bool wait_for_data(unsigned long timeout_ms) { return link.wait_for_data(timeout_ms); }
    bool wait_once(unsigned long timeout_ms) { return link.wait_once(timeout_ms); }
    QByteArray read_all() { return link.read_all(); }
    void discard_input() { link.discard_input(); }
    qint8 read_byte(quint16 timeout_ms) { return link.read_byte(timeout_ms); }

    // Conversations; worker thread only. 0, or -1 when it failed: the codes
    // of the worker's own interface (why it failed goes to the record).
    int query_device_info();
    int query_cellular_info();
    int update_image(flash_parameter request, quint8 type);
    int download_image(flash_parameter request, quint8 type);
    int xmodem_transmit(const char *image, qint32 length, quint8 synced);

signals:
    void ui_set_progress(int value);
    void ui_set_progress_max(int maximum);
    void ui_debug(QString line);
    void burn_done(bool ok);
    void burn_show(bool enable);
    void mac_done(bool ok);
    void ui_set_mac_text(QString mac_string, quint8 type);
    void ui_set_status_text(QString str, bool fail);
    // After the signals that end an operation; its record waits in
    // take_finished_operations().
    void operation_finished();
    // The outcome of open_serial_port_later().
    void port_opened(bool ok);

public slots:
    int __start_flash(flash_parameter param, quint8 type);
    void close_serial_port();
    bool open_serial_port(QString port_name, QString operation_name);
    void com_read_data();

protected:
    void run() override;

private:
    struct LinkCommand
    {
        enum Kind { open, close } kind;
        QString port_name;
        bool done = false;
        bool abandoned = false;
        bool result = false;
        bool announced = false;  // nobody waits: the outcome goes out as port_opened()
        flash_parameter then;    // the operation to post once an announced open succeeded
        quint8 then_type = 0;
    };

    // How long the window waits for the worker to open or close the port. The
    // worker serves these between requests, so only a request that is still
    // running (never the case when the window follows its own rules) makes
    // the window give up.
    static constexpr unsigned long link_command_timeout_ms = 3000;

    bool post_link_command(const std::shared_ptr<LinkCommand> &command);
    void after_open_later(const LinkCommand &command, bool opened);
    void serve_link_commands();
    void idle_wait(unsigned long ms);
    void run_request();
    void end_request();
    int query_once();

    void report_progress(int bytes_sent) override { emit ui_set_progress(bytes_sent); }
    void report_progress_max(int length) override { emit ui_set_progress_max(length); }
    void report_debug(const QString &line) override { emit ui_debug(line); }
    void report_status(const QString &text, bool ok) override { emit ui_set_status_text(text, ok); }
    void report_mac_text(const QString &value, quint8 type) override;
    JournalOutcome keep_record(OperationRecord &record);
    JournalOutcome sink_record(const OperationRecord &record);
    void hand_over(const OperationRecord &record, const JournalOutcome &journal, bool already_done = false);
    bool cancelled() const { return link.cancel_requested(); }
    void keep_posted_records();

    std::atomic<quint8> block_mode{0};
    std::atomic<quint8> device_kind{0};
    SerialLink link;
    // request and request_type are written by __start_flash (GUI thread) and
    // copied by the loop; request_pending is raised after them and lowered
    // when the operation has ended. A cancel is taken, and dropped again at
    // the operation's end, under request_mutex.
    std::mutex request_mutex;
    flash_parameter request;
    std::atomic_bool request_pending{false};
    Failure cancel_failure = Failure::interrupted;
    int opens_awaited = 0;  // open_serial_port_later() calls not yet served
    quint8 request_type = 0;
    QDateTime request_started;
    QElapsedTimer request_clock;

    RecordSink record_sink;
    bool keeping_finished = false;
    QByteArray image_check;
    IdentityCheck identity_check;
    // Worker thread only: the port the last open reached, and the record of
    // the operation that is running.
    QString open_port_name;
    OperationRecord *running_record = nullptr;
    QList<OperationRecord> posted_records;  // under command_mutex
    std::mutex finished_mutex;
    QList<FinishedOperation> finished_operations;

    std::atomic_bool stop{false};
    // Standard primitives rather than QMutex: ThreadSanitizer cannot see
    // Qt 5's futex-based mutex and would report every handover as a race.
    std::mutex command_mutex;
    std::condition_variable command_posted;
    std::condition_variable command_done;
    // Taken last by run() and first after QThread::wait(): makes the end of
    // the thread visible to ThreadSanitizer, which cannot see Qt's join.
    std::mutex lifetime_mutex;
    QList<std::shared_ptr<LinkCommand>> link_commands;
};
