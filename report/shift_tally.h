#pragma once

#include "report/duration_histogram.h"
#include "report/identity_table.h"
#include "report/label_tally.h"
#include "journal/journal_row.h"
#include "report/shift_figures.h"

#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Text keys (operations, details, ports, images) to dense indexes; the
// scratch key saves an allocation per lookup.
class Interner
{
public:
    // The index of `key`, and whether it was new; -1 for a new key when
    // `limit` keys are known.
    int id(std::string_view key, bool *added = nullptr, int limit = 0x7fffffff);
    const std::string &text(int id) const { return *texts_[size_t(id)]; }
    int size() const { return int(texts_.size()); }

private:
    std::unordered_map<std::string, int> ids_;
    std::vector<const std::string *> texts_;
    std::string scratch_;
};

// Takes the records of every journal one at a time, in any order (the same
// figures whichever order the journals or the database give them in), and
// keeps only what the figures need: per module its first and last record of each operation, and
// per station, slot, hour, detail and image a few counts. Memory grows with
// the modules, stations, ports, details and images, never with the records.
class ShiftTally
{
public:
    // Records outside [from, to) by their local time as written are left
    // out; a bound not given is open.
    ShiftTally(bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms);

    // Only records of these stations count; empty: every station's.
    void only_stations(const QStringList &names);
    // Only records served by these operators, for these work orders; empty:
    // every one's.
    void only_served_by(const QStringList &operators, const QStringList &work_orders);
    // `station`: of the file's records that name none.
    int add_file(const QString &path, const QString &station);
    // Null, or why the record cannot be taken (an unreadable row).
    const char *add(const JournalRow &row, int file);
    void add_unreadable(int file, qint64 line, const char *reason);
    // A label journal's event (its values by label_journal_format::columns),
    // counted when its pass falls in the range and is of the stations,
    // operators and work orders asked for.
    void add_label_event(const QStringList &values);

    ShiftFigures figures() const;

private:
    struct SlotTally
    {
        quint64 operations = 0, ok = 0;
        DurationHistogram durations;
    };
    // A module's records of one operation; a module's tracks are chained.
    // 40 bytes: there is one per module and operation.
    struct Track
    {
        qint64 first_instant = 0, last_instant = 0;
        quint32 next = 0;        // the module's next track + 1; 0: none
        qint32 written = 0;      // the image of its first ok write + 1
        qint32 last_detail = 0;  // of the last record, if it failed
        qint32 last_slot = 0;    // the place (slot or port) of the last record
        qint16 first_offset = 0, last_offset = 0;  // minutes
        quint16 operation = 0;
        bool first_ok : 1, last_ok : 1, retested : 1;
    };
    // Who served a track's first record and for which work order (indexes
    // into operators_ and work_orders_), beside the track: a module counts
    // for those of its first record.
    struct Owner { qint32 served_by = 0, work_order = 0; };
    struct MadeUnderTally { quint64 records = 0; qint64 first_instant = 0, first_wall = 0, last_instant = 0, last_wall = 0; };
    struct ImageTally
    {
        int operation = 0;  // of its earliest record
        qint64 first_instant = 0;
        std::vector<std::pair<qint64, std::string>> names;  // by when first seen
        bool more_names = false;
        qint64 bytes = -1;
        quint64 modules = 0, ok = 0, failed = 0;
        std::vector<bool> stations;
    };

    int station_index(std::string_view name);
    void add_to_module(const JournalRow &row, int operation, int image, int detail, int slot, Owner owner);
    void add_made_under(const JournalRow &row, int station);
    // Whether `a` names an earlier owner than `b` where nothing else tells
    // their records apart: by name, not by which was read first.
    bool owner_before(Owner a, Owner b) const;
    int add_image(const JournalRow &row, int operation, int station);
    // Also the modules and their yields of each operator and work order.
    void fill_yields(ShiftFigures *f, std::vector<ShiftFigures::ServedBy> *operators,
                     std::vector<ShiftFigures::ServedBy> *work_orders) const;
    void fill_buckets(ShiftFigures *f) const;
    void fill_slots(ShiftFigures *f) const;
    // A place's slot or port name, and which of the two it is.
    QString place_name(int place) const;
    bool place_by_slot(int place) const;
    void fill_images(ShiftFigures *f) const;
    void fill_made_under(ShiftFigures *f) const;
    void fill_failed_modules(ShiftFigures *f) const;
    // Of the module's operations whose last record failed, the one that
    // failed last; null when each ended ok.
    const Track *last_failed_track(quint32 module) const;
    // Whether a record in the same millisecond as the track's last counts
    // as later than it.
    bool later_than_last(const Track &t, bool ok, int detail, int place, qint16 offset) const;

    bool from_given_, to_given_;
    qint64 from_, to_;
    qint64 min_wall_ = 0, max_wall_ = 0;
    QVector<ShiftFigures::FileFigures> files_;
    std::vector<int> file_station_;
    QStringList station_names_;
    Interner station_keys_;  // the same indexes as station_names_
    QStringList only_stations_;
    std::vector<bool> station_counted_;
    std::vector<SlotTally> stations_;
    // Places by station: the station's index (4 bytes), 's' for a slot or
    // 'p' for a port, and its name.
    Interner port_keys_;
    std::string port_key_;
    std::vector<SlotTally> ports_;
    std::vector<int> port_station_;
    quint64 records_ = 0, ok_records_ = 0, without_identity_ = 0, failed_ = 0, unreadable_ = 0;
    Interner operations_, details_, images_;
    std::vector<quint64> operation_records_, detail_records_;
    std::vector<ImageTally> image_tallies_;
    IdentityTable identities_;
    std::vector<quint32> module_tracks_;  // first track + 1 of each module
    std::deque<Track> tracks_;  // grows without copying what it holds
    std::deque<Owner> track_owners_;
    std::unordered_set<quint64> more_images_written_;  // track + 1 << 32 | image, past a track's first
    std::map<qint64, quint64> hour_operations_;
    QVector<ShiftFigures::Unreadable> unreadable_rows_;
    std::vector<std::string> only_operators_, only_work_orders_;
    quint64 refused_ = 0, again_ = 0;
    Interner operator_keys_, work_order_keys_;
    std::vector<ShiftFigures::ServedBy> operators_, work_orders_;
    // Hours with records, by operator and by work order: index << 32 | hour.
    std::unordered_set<quint64> operator_hours_, work_order_hours_;
    std::vector<quint64> station_refused_;
    // Station (4 bytes), recipe digest, a 0, image digest.
    Interner made_under_keys_;
    std::string made_under_key_;
    std::vector<MadeUnderTally> made_under_;
    std::vector<int> made_under_station_;
    LabelTally labels_;
};
