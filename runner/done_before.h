#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class JournalReader;
class PgLink;

// What a station does with a module that had this service before, anywhere
// on the line: serve it as any other (allow), serve it and say so (warn), or
// identify it and write nothing to it (block).
enum class AgainPolicy { allow, warn, block };
// "allow", "warn" or "block"; false for anything else.
bool read_again_policy(const QString &word, AgainPolicy *policy);

// Whether a module was served before: an ok record of the same operation
// (and, for a download, the same image SHA-256) for the same identity
// (device number and IMEI/MAC both equal), in this station's journals or,
// with a database, in the line's records from any station and any day.
// Thread-safe: every worker thread asks it for its own module.
class DoneBefore
{
public:
    // The most the database is waited for, per module: then the journals
    // alone decide, and the record says so. KV20_DB_LOOKUP_WAIT_MS sets it
    // for a station whose network is slow to answer (and for tests on a
    // loaded machine, where a first TLS handshake can take longer).
    static constexpr int lookup_wait_ms = 300;
    // After the database did not answer, it is not asked again for this
    // long: a line of modules arriving behind a dead network is decided
    // from the journals at once, not a lookup's wait each.
    static constexpr int database_rest_ms = 5000;
    // The most connections one station keeps to the database: a lookup
    // takes well under a millisecond once connected, while each connection
    // costs a handshake (TLS, password) and a server process. Thirty-two
    // modules arriving at once share them rather than opening thirty-two,
    // and a line of stations stays within the server's max_connections.
    static constexpr int most_links = 4;

    // `here`: the station a journal row without one was kept by;
    // `database_url` empty: no database.
    DoneBefore(const QString &here, const QString &database_url);
    ~DoneBefore();

    // An ok record read back from this station's journals (see
    // read_ok_records), before any module is looked up.
    void take(const JournalReader &reader);

    // Sets record->earlier (the latest such record; empty id: none) and
    // record->again_checked (where it looked).
    void look_up(OperationRecord *record, const QByteArray &image_sha256);
    // A record just kept: an ok one counts from now on.
    void add(const OperationRecord &record);

private:
    bool ask_database(const OperationRecord &record, const QByteArray &image_sha256, OperationRecord::Earlier *found);

    std::mutex mutex;
    std::condition_variable link_returned;
    // By ServedModules::key.
    QHash<QString, OperationRecord::Earlier> journal_records;
    QString here, url;
    const int database_wait_ms;
    // Connections not in use: each lookup takes one for its own thread.
    std::vector<std::unique_ptr<PgLink>> idle_links;
    int links = 0;  // idle or in use
    qint64 rest_until_ms = 0;
};
