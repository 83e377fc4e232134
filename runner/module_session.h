#pragma once

#include "journal/journal.h"
#include "journal/operation_record.h"
#include "runner/done_before.h"
#include "runner/served_modules.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class MPThread;

// One operation on one module, by a worker thread of its own on the module's
// own port: open the port, choose the variant's identity query, run the
// request, keep its record in the journal and hand it back. The worker is
// driven through the same slots the window drives it through.
class ModuleSession : public QObject
{
    Q_OBJECT

public:
    struct Target
    {
        QString port;  // as the operator knows it (pts/3, COM5)
        QString node;  // what opens it
        // Where the module is plugged in (ModulePort::usb_device); empty: the
        // slot, else the port's name, stands for it.
        QString place {};
        // The socket's name for the journal (ModulePort::slot).
        QString slot {};
    };
    struct Request
    {
        quint8 type = 0;  // operation::device_query, audio_replacement or firmware_upgrade
        QString image;
        bool cellular = true;
        QString tool = QStringLiteral("cli");  // the journal's tool column
        // Set: the image must still have this SHA-256 (lower-case hex) when
        // it is read for sending, else the module hears nothing.
        QByteArray image_sha256;
        // Set: a module found in it after its identity query (the same one,
        // back in its place soon after its ok) hears nothing more (already
        // done); one whose operation ends ok is added to it.
        std::shared_ptr<ServedModules> served;
        // A port that does not open is tried again every open_retry_every_ms
        // for this long before its record says so: a port that has just
        // appeared may still be held by a prober or its driver.
        int open_retry_ms = 0;
        // With `done_before` set and a policy other than allow, a module that
        // had this service before (DoneBefore) is served and its record names
        // the earlier one (warn), or it hears nothing more (block).
        AgainPolicy again = AgainPolicy::allow;
        std::shared_ptr<DoneBefore> done_before;
        // Who serves the modules, for which work order and product, under
        // which recipe (its file's SHA-256): into every record as it is.
        QString operator_id;
        QString work_order;
        QString product;
        QByteArray recipe_sha256;
        // The request's own fields on a record: the tool, who, what for.
        void stamp(OperationRecord *record) const;
    };
    static constexpr int open_retry_every_ms = 500;

    ModuleSession(const Target &target, const Request &request, const Journal &journal, QObject *parent = nullptr);
    // Waits for the worker thread: a running operation should be cancelled
    // first.
    ~ModuleSession() override;

    void start();
    // From the session's own thread. Cancels the operation on the wire; its
    // record fails with `why`. Ignored once the operation has ended.
    void cancel(Failure why = Failure::interrupted);

    QString port() const { return target.port; }
    const OperationRecord &record() const { return result; }
    const JournalOutcome &journal_outcome() const { return journal_result; }
    // The module had this operation done just now, in the same place: no
    // record.
    bool already_done() const { return already_done_; }
    bool done() const { return finished_; }

signals:
    // bytes of the image the module has acknowledged (the last block counted
    // as far as the image goes), of total.
    void progress(qint64 bytes, qint64 total);
    void finished();

private:
    void try_open();
    void on_port_opened(bool ok);
    void give_up_opening(Failure why);
    void on_finished();

    Target target;
    Request request;
    MPThread *worker;
    qint64 total = 0;
    QDateTime arrived;
    QElapsedTimer opening;
    QTimer open_retry;
    // Until the operation runs, a cancel is the session's own to carry out.
    enum class Phase { idle, opening, waiting_to_retry, running } phase = Phase::idle;
    Failure cancelled_while_opening = Failure::none;
    OperationRecord result;
    JournalOutcome journal_result;
    bool already_done_ = false;
    bool finished_ = false;
};
