#include "runner/done_before.h"

#include "db/pg_link.h"
#include "db/station_journals.h"
#include "journal/journal_reader.h"
#include "journal/station_name.h"

#include <chrono>

namespace {

qint64 steady_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), int(view.size()));
}

QString checked_words(std::string_view words)
{
    return journal_text(words);
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

DoneBefore::DoneBefore(const QString &journal_folder, const QString &database_url)
    : url(database_url)
{
    const QString here = station_name(journal_folder);
    for (const QString &path : station_journals(journal_folder)) {
        JournalReader reader;
        QString error;
        if (!reader.open(path, &error))
            continue;
        const char *reason = nullptr;
        std::string scratch;
        while (reader.next(&reason)) {
            const JournalRow &row = reader.record();
            if (reason || !row.ok || row.device_number.empty() || row.imei_or_mac.empty())
                continue;
            OperationRecord::Earlier earlier;
            earlier.record_id = text(reader.columns().value(reader.row(), journal_format::record_id, &scratch));
            earlier.station = row.station.empty() ? here : text(row.station);
            earlier.place = text(row.slot.empty() ? row.port : row.slot);
            earlier.time = text(reader.columns().value(reader.row(), journal_format::time, &scratch));
            journal_records.insert(key(text(row.operation), text(row.device_number), text(row.imei_or_mac),
                                       text(row.image_sha256)),
                                   earlier);
        }
    }
}

DoneBefore::~DoneBefore() = default;

QString DoneBefore::key(const QString &operation, const QString &device_number, const QString &imei_or_mac,
                        const QString &image_sha256)
{
    // Each field behind its length: no two identities make the same key.
    QString key;
    for (const QString &field : {operation, device_number, imei_or_mac, image_sha256})
        key += QString::number(field.size()) + QLatin1Char(':') + field;
    return key;
}

void DoneBefore::add(const OperationRecord &record)
{
    if (!record.ok || record.device_number.isEmpty() || record.imei_or_mac.isEmpty())
        return;
    const OperationRecord::Earlier kept {record.record_id, record.station,
                                         record.slot.isEmpty() ? record.port : record.slot,
                                         record.started.toString(Qt::ISODateWithMs)};
    std::lock_guard<std::mutex> locker(mutex);
    journal_records.insert(key(record.operation, record.device_number, record.imei_or_mac,
                               QString::fromLatin1(record.image_sha256)),
                           kept);
}

void DoneBefore::look_up(OperationRecord *record, const QByteArray &image_sha256)
{
    record->earlier = {};
    if (record->device_number.isEmpty() || record->imei_or_mac.isEmpty()) {
        // A module that does not name itself is never taken for another.
        record->again_checked = checked_words(journal_format::again_checked_words::journals);
        return;
    }
    {
        std::lock_guard<std::mutex> locker(mutex);
        record->earlier = journal_records.value(
            key(record->operation, record->device_number, record->imei_or_mac, QString::fromLatin1(image_sha256)));
    }
    if (url.isEmpty()) {
        record->again_checked = checked_words(journal_format::again_checked_words::journals);
        return;
    }
    OperationRecord::Earlier elsewhere;
    if (!ask_database(*record, image_sha256, &elsewhere)) {
        record->again_checked = checked_words(journal_format::again_checked_words::unanswered);
        return;
    }
    record->again_checked = checked_words(journal_format::again_checked_words::database);
    // The database's record where the journals have none; the journal's
    // own where both have one (it may not be uploaded yet, and it is ours).
    if (record->earlier.record_id.isEmpty())
        record->earlier = elsewhere;
}

bool DoneBefore::ask_database(const OperationRecord &record, const QByteArray &image_sha256,
                              OperationRecord::Earlier *found)
{
    std::unique_ptr<PgLink> link;
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (steady_ms() < rest_until_ms)
            return false;
        if (!idle_links.empty()) {
            link = std::move(idle_links.back());
            idle_links.pop_back();
        }
    }
    if (!link)
        link = std::make_unique<PgLink>();
    link->limit_waits(database_wait_ms);
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
        rest_until_ms = steady_ms() + database_rest_ms;
        return false;
    }
    if (!r.rows.empty()) {
        const std::vector<QByteArray> &row = r.rows[0];
        *found = {QString::fromLatin1(row[0]), QString::fromUtf8(row[1]), QString::fromUtf8(row[2]),
                  QString::fromUtf8(row[3])};
    }
    idle_links.push_back(std::move(link));
    return true;
}
