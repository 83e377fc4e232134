#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// What a report says, worked out once and then written as a terminal
// summary, JSON or the HTML page, so that the three never disagree.
struct ShiftFigures
{
    struct FileFigures { QString path, station; quint64 records = 0, unreadable = 0; };
    struct Count { QString name; quint64 count = 0; };
    // Modules by what their first and last record of an operation said;
    // in operation "all" a module passes first time when its first record of
    // each of its operations was ok, and in the end when its last one of
    // each was: a download that failed is not made good by a query after it.
    struct Yield { QString operation; quint64 modules = 0, first_pass = 0, final_pass = 0, retests = 0; };
    struct Bucket { qint64 start_wall_ms = 0; quint64 modules = 0, operations = 0; };
    // A station (port null), or one place of a station: its USB slot where
    // the records name one, else its port, since older journals and
    // programs without slot discovery know only the port.
    struct Slot
    {
        QString station, port;
        quint64 operations = 0, ok = 0;
        qint64 median_ms = 0, p95_ms = 0;
        bool below = false;  // yield more than 10 points below the whole's
        bool by_slot = false;  // `port` is the slot's name
        quint64 refused = 0;   // of a station: done before, not served
    };
    struct Image
    {
        QString sha256, operation;
        QStringList names;    // file names as the journal has them, first few
        bool more_names = false;  // more than those
        qint64 bytes = -1;
        quint64 modules = 0, ok = 0, failed = 0;
        QStringList stations;
    };
    struct Unreadable { QString file; qint64 line = 0; QString reason; };
    // Who served, or for which work order ("" where the records name none):
    // records, ok ones, and those counted apart, refused (done before, not
    // served) and done again (ok, naming an earlier record). A module counts
    // for the operator and the work order of its first record, with its
    // first-pass and final result as in the yield of all operations; its
    // hours are the hours in which their records fall.
    struct ServedBy
    {
        QString name;
        quint64 records = 0, ok = 0, refused = 0, again = 0;
        quint64 modules = 0, first_pass = 0, final_pass = 0, hours = 0;
        double modules_per_hour() const { return hours ? double(modules) / double(hours) : 0; }
    };
    // What a station's records were made under: the recipe file's SHA-256
    // and the image's, either one empty where the records have none; a
    // recipe changed during the range shows as a second row.
    struct MadeUnder
    {
        QString station, recipe_sha256, image_sha256;
        quint64 records = 0;
        qint64 first_wall_ms = 0, last_wall_ms = 0;
    };
    // A module whose last record of an operation in the range failed, as
    // that record says (the latest such).
    struct FailedModule
    {
        QString device_number, imei_or_mac, operation, detail, station, port;
        qint64 wall_ms = 0;
        bool by_slot = false;  // `port` is the slot's name
    };

    // A pass whose label never printed, as its label journal last said.
    struct Unlabelled
    {
        QString device_number, imei_or_mac, station, slot;
        bool given_up = false;
        QString detail;
        qint64 wall_ms = 0;  // the pass's
    };

    QVector<FileFigures> files;
    bool range_given = false;
    qint64 from_wall_ms = 0, to_wall_ms = 0;  // the buckets' span, [from, to)
    quint64 records = 0, ok_records = 0, modules = 0, without_identity = 0;
    // Neither a pass nor a failure: not among the records above, nor in any
    // yield. Done again is among the ok records.
    quint64 refused_records = 0, again_records = 0;
    QVector<ServedBy> operators, work_orders;  // by name
    QVector<Count> operations;  // by records, most first
    QVector<Yield> yields;      // "all" first
    qint64 bucket_ms = 0;       // an hour, or a day over a long range
    QVector<Bucket> buckets;
    int busiest = -1, quietest = -1;  // bucket indexes
    double modules_per_hour = 0;
    QVector<Count> failures;    // by detail, most first
    quint64 failed_records = 0;
    QVector<Slot> stations, ports;
    QVector<Image> images;
    QVector<MadeUnder> made_under;  // by station, then by first record
    quint64 failed_modules = 0;
    QVector<FailedModule> failed_module_rows;  // the first few by time
    // Passes whose label fell due (stations with [label]) and those of them
    // whose label never printed: waiting still, or given up.
    quint64 label_passes = 0, unlabelled = 0;
    QVector<Unlabelled> unlabelled_rows;  // the first few by the pass's time
    quint64 unreadable = 0;
    QVector<Unreadable> unreadable_rows;  // the first few

    double yield_pct() const { return records ? 100.0 * double(ok_records) / double(records) : 0; }
};

// "slot 1-1.4.2" or "port ttyACM0": which of the two names a place. A page
// in another language gives its own words for both.
inline QString place_text(const QString &name, bool by_slot, const QString &slot_words = QStringLiteral("slot %1"),
                          const QString &port_words = QStringLiteral("port %1"))
{
    return (by_slot ? slot_words : port_words).arg(name);
}

constexpr int below_points = 10;
constexpr int unreadable_rows_kept = 50;
constexpr int failed_modules_kept = 50;
