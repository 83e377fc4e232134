#include "cli/line_mode.h"

#include "cli/line_printer.h"
#include "discovery/port_change_notifier.h"
#include "discovery/port_rules.h"
#include "protocol/download_session.h"

#include <QCryptographicHash>
#include <QFileInfo>

LineMode::LineMode(const CliOptions &options, const Journal &journal, QObject *parent)
    : QObject(parent)
    , options(options)
    , journal(journal)
{
    rescan_timer.setInterval(options.rescan_ms);
    connect(&rescan_timer, &QTimer::timeout, this, &LineMode::rescan);
}

// The sessions are children: each waits for its worker thread when it goes,
// and stop() has ended their operations by then.
LineMode::~LineMode() = default;

bool LineMode::check_image(QString *reason)
{
    if (options.command == CliOptions::query)
        return true;
    QByteArray image;
    *reason = image_read_failure(read_image_file(options.image, &image));
    image_sha256 = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    return reason->isEmpty();
}

QString LineMode::header() const
{
    QString text = QStringLiteral("kv20-cli watch: %1").arg(operation_name(options.operation_type()));
    if (!image_sha256.isEmpty())
        text += QStringLiteral("  image %1  sha256 %2").arg(options.image, QString::fromLatin1(image_sha256.left(12)));
    return text + QStringLiteral("  journal %1").arg(QFileInfo(journal.path()).absoluteFilePath());
}

void LineMode::start(LinePrinter *line_printer)
{
    printer = line_printer;
    notifier = new PortChangeNotifier(this);
    connect(notifier, &PortChangeNotifier::ports_changed, this, &LineMode::rescan);
    if (!notifier->listening())
        printer->notice(QStringLiteral("no device-change events: looking for modules every %1 ms").arg(options.rescan_ms));
    rescan();
    rescan_timer.start();
}

void LineMode::rescan()
{
    if (stopping)
        return;
    QMap<QString, QString> found;
    for (const ModulePort &port : find_module_ports())
        found.insert(port.port, port.node);
    for (const QString &port : present.keys()) {
        if (!found.contains(port))
            depart(port);
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!present.contains(it.key()))
            arrive(it.key(), it.value());
    }
}

void LineMode::arrive(const QString &port, const QString &node)
{
    ModuleSession::Request request;
    request.type = options.operation_type();
    request.image = options.image;
    request.cellular = options.cellular;
    request.image_sha256 = image_sha256;
    auto *session = new ModuleSession({port, node}, request, journal, this);
    present.insert(port, session);
    printer->arrival(port, operation_name(request.type));
    connect(session, &ModuleSession::progress, this,
            [this, port](qint64 bytes, qint64 total) { printer->progress(port, bytes, total); });
    connect(session, &ModuleSession::finished, this, [this, session] { on_session_finished(session); });
    session->start();
}

void LineMode::depart(const QString &port)
{
    ModuleSession *session = present.take(port);
    if (session) {
        session->cancel(QStringLiteral("unplugged"));
        leaving.append(session);
    }
    printer->removal(port);
}

void LineMode::on_session_finished(ModuleSession *session)
{
    printer->result(session->record());
    const JournalOutcome &kept = session->journal_outcome();
    not_in_journal += kept.in_journal ? 0 : 1;
    for (const QString &notice : kept.notices)
        printer->notice(notice);
    if (!leaving.removeOne(session)) {
        // Still plugged in: served, and not again until it has gone.
        for (auto it = present.begin(); it != present.end(); ++it) {
            if (it.value() == session)
                it.value() = nullptr;
        }
    }
    // Its worker thread ends once this signal has been delivered.
    session->deleteLater();
    finish_if_idle();
}

void LineMode::stop()
{
    if (stopping)
        return;
    stopping = true;
    rescan_timer.stop();
    for (ModuleSession *session : qAsConst(present)) {
        if (session)
            session->cancel();
    }
    for (ModuleSession *session : qAsConst(leaving))
        session->cancel();
    finish_if_idle();
}

void LineMode::finish_if_idle()
{
    if (!stopping || !leaving.isEmpty())
        return;
    for (ModuleSession *session : qAsConst(present)) {
        if (session && !session->done())
            return;
    }
    emit finished();
}
