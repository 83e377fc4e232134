#include "runner/done_before.h"

#include "db/pg_link.h"
#include "interfaces/environment_wait.h"
#include "journal/journal_reader.h"
#include "journal/journal.h"
#include "runner/served_modules.h"

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), int(view.size()));
}

// The latest ok record of the service to the module, asked through the
// index on the identity.
const char lookup_sql[] =
    "SELECT record_id::text, station, CASE WHEN slot <> '' THEN slot ELSE port END, time FROM kv20_records"
    " WHERE device_number = $1 AND imei_or_mac = $2 AND operation = $3 AND result = 'ok'"
    " AND ($4 = '' OR image_sha256 = $4) ORDER BY utc_time DESC LIMIT 1";

} // namespace

bool read_again_policy(const QString &word, AgainPolicy *policy)
{
    const QStringList words {QStringLiteral("allow"), QStringLiteral("warn"), QStringLiteral("block")};
    if (!words.contains(word))
        return false;
    *policy = AgainPolicy(words.indexOf(word));
    return true;
}

DoneBefore::DoneBefore(const QString &here, const QString &database_url)
    : here(here), url(database_url), database_wait_ms(wait_from_environment("KV20_DB_LOOKUP_WAIT_MS", lookup_wait_ms))
{
}

void DoneBefore::take(const JournalReader &reader)
{
    const JournalRow &row = reader.record();
    if (row.device_number.empty() || row.imei_or_mac.empty())
        return;
    std::string scratch;
    OperationRecord::Earlier earlier;
    earlier.record_id = text(reader.columns().value(reader.row(), journal_format::record_id, &scratch));
    earlier.station = row.station.empty() ? here : text(row.station);
    earlier.place = text(row.slot.empty() ? row.port : row.slot);
    earlier.time = text(reader.columns().value(reader.row(), journal_format::time, &scratch));
    OperationRecord identity;
    identity.operation = text(row.operation);
    identity.device_number = text(row.device_number);
    identity.imei_or_mac = text(row.imei_or_mac);
    const QString key = ServedModules::key(identity, QByteArray(row.image_sha256.data(), int(row.image_sha256.size())));
    std::lock_guard<std::mutex> locker(mutex);
    journal_records.insert(key, earlier);
}

DoneBefore::~DoneBefore() = default;

void DoneBefore::add(const OperationRecord &record)
{
    const QString key = ServedModules::key(record, record.image_sha256);
    if (!record.ok || key.isEmpty())
        return;
    const OperationRecord::Earlier kept {record.record_id, record.station,
                                         record.slot.isEmpty() ? record.port : record.slot,
                                         Journal::time_text(record.started)};
    std::lock_guard<std::mutex> locker(mutex);
    journal_records.insert(key, kept);
}

void DoneBefore::look_up(OperationRecord *record, const QByteArray &image_sha256)
{
    record->earlier = {};
    if (record->device_number.isEmpty() || record->imei_or_mac.isEmpty()) {
        // A module that does not name itself is never taken for another.
        record->again_checked = journal_text(journal_format::again_checked_words::journals);
        return;
    }
    {
        std::lock_guard<std::mutex> locker(mutex);
        record->earlier = journal_records.value(ServedModules::key(*record, image_sha256));
    }
    if (url.isEmpty()) {
        record->again_checked = journal_text(journal_format::again_checked_words::journals);
        return;
    }
    OperationRecord::Earlier elsewhere;
    if (!ask_database(*record, image_sha256, &elsewhere)) {
        record->again_checked = journal_text(journal_format::again_checked_words::unanswered);
        return;
    }
    record->again_checked = journal_text(journal_format::again_checked_words::database);
    // The database's record where the journals have none; the journal's
    // own where both have one (it may not be uploaded yet, and it is ours).
    if (record->earlier.record_id.isEmpty())
        record->earlier = elsewhere;
}

bool DoneBefore::ask_database(const OperationRecord &record, const QByteArray &image_sha256,
                              OperationRecord::Earlier *found)
{
    const qint64 give_up_ms = ServedModules::now_ms() + database_wait_ms;
    std::unique_ptr<PgLink> link;
    {
        std::unique_lock<std::mutex> locker(mutex);
        // Waiting for a connection another module is using counts within
        // the bound.
        const bool one_free = link_returned.wait_for(locker, std::chrono::milliseconds(database_wait_ms), [this] {
            return ServedModules::now_ms() < rest_until_ms || !idle_links.empty() || links < most_links;
        });
        if (!one_free || ServedModules::now_ms() < rest_until_ms)
            return false;
        if (!idle_links.empty()) {
            link = std::move(idle_links.back());
            idle_links.pop_back();
        } else {
            ++links;
        }
    }
    if (!link)
        link = std::make_unique<PgLink>();
    link->limit_waits(int(qMax<qint64>(1, give_up_ms - ServedModules::now_ms())));
    QString error;
    bool answered = link->connected() || link->connect(url, &error);
    PgLink::Result r;
    if (answered) {
        r = link->exec(lookup_sql, {record.device_number.toUtf8(), record.imei_or_mac.toUtf8(),
                                    record.operation.toUtf8(), image_sha256.isNull() ? QByteArray("") : image_sha256});
        answered = r.ok;
    }
    link->limit_waits(0);
    std::lock_guard<std::mutex> locker(mutex);
    if (!answered) {
        // A connection that did not answer in time is dropped: its next
        // answer would be this question's.
        --links;
        link_returned.notify_all();
        rest_until_ms = ServedModules::now_ms() + database_rest_ms;
        return false;
    }
    if (!r.rows.empty()) {
        const std::vector<QByteArray> &row = r.rows[0];
        *found = {QString::fromLatin1(row[0]), QString::fromUtf8(row[1]), QString::fromUtf8(row[2]),
                  QString::fromUtf8(row[3])};
    }
    idle_links.push_back(std::move(link));
    link_returned.notify_one();
    return true;
}
