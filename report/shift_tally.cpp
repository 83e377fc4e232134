#include "report/shift_tally.h"

#include "journal/label_journal.h"

#include <QFileInfo>

#include <algorithm>
#include <tuple>

namespace L = label_journal_format;

int Interner::id(std::string_view key, bool *added, int limit)
{
    scratch_.assign(key.data(), key.size());
    auto found = ids_.find(scratch_);
    if (added)
        *added = found == ids_.end();
    if (found != ids_.end())
        return found->second;
    if (size() >= limit)
        return -1;
    found = ids_.emplace(scratch_, int(texts_.size())).first;
    texts_.push_back(&found->first);
    return found->second;
}

namespace {

QString text_of(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), int(bytes.size()));
}

// The file name of an image path from either system.
std::string_view file_name_of(std::string_view path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

template<typename T>
void by_count(QVector<T> *items)
{
    std::stable_sort(items->begin(), items->end(), [](const T &a, const T &b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
}

} // namespace

ShiftTally::ShiftTally(bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms)
    : from_given_(from_given), to_given_(to_given), from_(from_wall_ms), to_(to_wall_ms)
{
}

void ShiftTally::only_stations(const QStringList &names)
{
    only_stations_ = names;
    for (int i = 0; i < station_names_.size(); ++i)
        station_counted_[size_t(i)] = names.isEmpty() || names.contains(station_names_.at(i));
}

void ShiftTally::only_served_by(const QStringList &operators, const QStringList &work_orders)
{
    for (const QString &name : operators)
        only_operators_.push_back(name.toStdString());
    for (const QString &name : work_orders)
        only_work_orders_.push_back(name.toStdString());
}

namespace {

bool among(const std::vector<std::string> &names, std::string_view name)
{
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

// The index of the operator or work order `name`.
int count_served_by(Interner *keys, std::vector<ShiftFigures::ServedBy> *tallies,
                    std::unordered_set<quint64> *hours, std::string_view name, const JournalRow &row)
{
    bool added = false;
    const int index = keys->id(name, &added);
    if (added)
        tallies->push_back({text_of(name)});
    ShiftFigures::ServedBy &t = (*tallies)[size_t(index)];
    if (hours->insert(quint64(index) << 32 | quint32(floor_to(row.time.wall_ms, hour_ms) / hour_ms)).second)
        ++t.hours;
    if (row.refused) {
        ++t.refused;
        return index;
    }
    ++t.records;
    t.ok += row.ok;
    t.again += row.ok && !row.again_of.empty();
    return index;
}

} // namespace

int ShiftTally::station_index(std::string_view name)
{
    bool added = false;
    const int index = station_keys_.id(name, &added);
    if (added) {
        station_names_ << text_of(name);
        stations_.emplace_back();
        station_counted_.push_back(only_stations_.isEmpty() || only_stations_.contains(station_names_.last()));
    }
    return index;
}

int ShiftTally::add_file(const QString &path, const QString &station)
{
    const QByteArray name = station.toUtf8();
    files_.append({path, station, 0, 0});
    file_station_.push_back(station_index(std::string_view(name.constData(), size_t(name.size()))));
    return files_.size() - 1;
}

void ShiftTally::add_unreadable(int file, qint64 line, const char *reason)
{
    ++unreadable_;
    ++files_[file].unreadable;
    if (unreadable_rows_.size() < unreadable_rows_kept)
        unreadable_rows_.append({files_[file].path, line, QString::fromLatin1(reason)});
}

void ShiftTally::add_label_event(const QStringList &values)
{
    JournalTime time;
    if (!parse_journal_time(values[L::record_time].toStdString(), &time))
        return;
    const qint64 wall = time.wall_ms;
    if ((from_given_ && wall < from_) || (to_given_ && wall >= to_))
        return;
    if ((!only_stations_.isEmpty() && !only_stations_.contains(values[L::station]))
        || !among(only_operators_, values[L::operator_id].toStdString()) || !among(only_work_orders_, values[L::work_order].toStdString()))
        return;
    labels_.add(values, wall);
}

const char *ShiftTally::add(const JournalRow &row, int file)
{
    const qint64 wall = row.time.wall_ms;
    if ((from_given_ && wall < from_) || (to_given_ && wall >= to_))
        return nullptr;
    // A record names its station where its journal has the column; before
    // that, the journal's folder does.
    const int station = row.station.empty() ? file_station_[size_t(file)] : station_index(row.station);
    if (!station_counted_[size_t(station)] || !among(only_operators_, row.operator_id)
        || !among(only_work_orders_, row.work_order))
        return nullptr;
    const Owner owner {count_served_by(&operator_keys_, &operators_, &operator_hours_, row.operator_id, row),
                       count_served_by(&work_order_keys_, &work_orders_, &work_order_hours_, row.work_order, row)};
    add_made_under(row, station);
    // A refused module was not served: no pass, no failure, no duration.
    if (row.refused) {
        ++refused_;
        if (station_refused_.size() <= size_t(station))
            station_refused_.resize(size_t(station) + 1);
        ++station_refused_[size_t(station)];
        return nullptr;
    }
    again_ += row.ok && !row.again_of.empty();
    bool added = false;
    // A module's track keeps its operation in 16 bits; this tool writes three.
    const int operation = operations_.id(row.operation, &added, 0xffff);
    if (operation < 0)
        return "one kind of operation too many (65535 at most)";
    if (added)
        operation_records_.push_back(0);
    min_wall_ = records_ == 0 ? wall : std::min(min_wall_, wall);
    max_wall_ = records_ == 0 ? wall : std::max(max_wall_, wall);
    ++records_;
    ++files_[file].records;
    ok_records_ += row.ok;
    ++hour_operations_[floor_to(wall, hour_ms)];

    ++operation_records_[size_t(operation)];
    int detail = -1;
    if (!row.ok) {
        ++failed_;
        detail = details_.id(row.detail, &added);
        if (added)
            detail_records_.push_back(0);
        ++detail_records_[size_t(detail)];
    }

    // The slot where the record names one: a port's name follows the order
    // the modules were plugged in, the slot stays with the socket.
    const bool by_slot = !row.slot.empty();
    port_key_.assign(reinterpret_cast<const char *>(&station), sizeof station)
        .append(1, by_slot ? 's' : 'p')
        .append(by_slot ? row.slot : row.port);
    const int port = port_keys_.id(port_key_, &added);
    if (added) {
        ports_.emplace_back();
        port_station_.push_back(station);
    }
    for (SlotTally *slot : {&stations_[size_t(station)], &ports_[size_t(port)]}) {
        ++slot->operations;
        slot->ok += row.ok;
        slot->durations.add(row.duration_ms);
    }
    const int image = row.image_sha256.empty() ? -1 : add_image(row, operation, station);
    if (row.device_number.empty() && row.imei_or_mac.empty())
        ++without_identity_;
    else
        add_to_module(row, operation, image, detail, port, owner);
    return nullptr;
}

void ShiftTally::add_made_under(const JournalRow &row, int station)
{
    if (row.recipe_sha256.empty() && row.image_sha256.empty())
        return;
    made_under_key_.assign(reinterpret_cast<const char *>(&station), sizeof station)
        .append(row.recipe_sha256)
        .append(1, '\0')
        .append(row.image_sha256);
    bool added = false;
    const int index = made_under_keys_.id(made_under_key_, &added);
    if (added) {
        made_under_.push_back({0, row.time.instant_ms, row.time.wall_ms, row.time.instant_ms, row.time.wall_ms});
        made_under_station_.push_back(station);
    }
    MadeUnderTally &t = made_under_[size_t(index)];
    ++t.records;
    // The earliest and latest by the instant; a tie by the wall time, so
    // that any order of the records gives the same figures.
    const auto instant = std::make_pair(row.time.instant_ms, row.time.wall_ms);
    if (instant < std::make_pair(t.first_instant, t.first_wall))
        std::tie(t.first_instant, t.first_wall) = instant;
    if (instant > std::make_pair(t.last_instant, t.last_wall))
        std::tie(t.last_instant, t.last_wall) = instant;
}

bool ShiftTally::owner_before(Owner a, Owner b) const
{
    return std::make_pair(std::string_view(operator_keys_.text(a.served_by)),
                          std::string_view(work_order_keys_.text(a.work_order)))
           < std::make_pair(std::string_view(operator_keys_.text(b.served_by)),
                            std::string_view(work_order_keys_.text(b.work_order)));
}

int ShiftTally::add_image(const JournalRow &row, int operation, int station)
{
    bool added = false;
    const int image = images_.id(row.image_sha256, &added);
    if (added)
        image_tallies_.emplace_back();
    ImageTally &tally = image_tallies_[size_t(image)];
    // The earliest record's, not the first one read: journals in any order,
    // and the database in its own, give the same figures.
    const qint64 instant = row.time.instant_ms;
    if (added || instant < tally.first_instant
        || (instant == tally.first_instant
            && std::make_pair(row.operation, row.image_bytes)
                   < std::make_pair(std::string_view(operations_.text(tally.operation)), tally.bytes))) {
        tally.first_instant = instant;
        tally.operation = operation;
        tally.bytes = row.image_bytes;
    }
    row.ok ? ++tally.ok : ++tally.failed;
    if (row.ok) {
        if (tally.stations.size() <= size_t(station))
            tally.stations.resize(size_t(station) + 1);
        tally.stations[size_t(station)] = true;
    }
    // The names first seen earliest, five at most.
    const std::string_view name = file_name_of(row.image);
    auto known = std::find_if(tally.names.begin(), tally.names.end(), [&](const auto &n) { return n.second == name; });
    if (known != tally.names.end()) {
        known->first = std::min(known->first, instant);
    } else if (tally.names.size() < 5) {
        tally.names.emplace_back(instant, name);
    } else {
        tally.more_names = true;
        if (std::make_pair(instant, name) < std::make_pair(tally.names.back().first, std::string_view(tally.names.back().second)))
            tally.names.back() = {instant, std::string(name)};
    }
    std::sort(tally.names.begin(), tally.names.end());
    return image;
}

void ShiftTally::add_to_module(const JournalRow &row, int operation, int image, int detail, int slot, Owner owner)
{
    const quint32 module = identities_.find_or_add(row.device_number, row.imei_or_mac);
    if (module == module_tracks_.size())
        module_tracks_.push_back(0);
    // Tracks are chained by index: a new track may move the others.
    quint32 previous = 0, link = module_tracks_[module];
    while (link != 0 && tracks_[link - 1].operation != operation) {
        previous = link;
        link = tracks_[link - 1].next;
    }
    const qint64 instant = row.time.instant_ms;
    const qint16 offset = qint16(row.time.offset_minutes);
    const bool first_record = link == 0;
    if (first_record) {
        tracks_.emplace_back();
        track_owners_.emplace_back();
        link = quint32(tracks_.size());
        tracks_.back().operation = quint16(operation);
        tracks_.back().retested = false;
        (previous == 0 ? module_tracks_[module] : tracks_[previous - 1].next) = link;
    }
    Track &track = tracks_[link - 1];
    // Records of one module and operation in the same millisecond: which
    // counts as first or last follows from what they say, not from which was
    // read first; a failure counts as both the earlier and the later.
    Owner &first_owner = track_owners_[link - 1];
    if (first_record || instant < track.first_instant
        || (instant == track.first_instant
            && (row.ok != track.first_ok ? !row.ok
                                         : offset != track.first_offset ? offset < track.first_offset
                                                                        : owner_before(owner, first_owner)))) {
        track.first_instant = instant;
        track.first_offset = offset;
        track.first_ok = row.ok;
        first_owner = owner;
    }
    if (first_record || instant > track.last_instant
        || (instant == track.last_instant && later_than_last(track, row.ok, detail, slot, offset))) {
        track.last_instant = instant;
        track.last_offset = offset;
        track.last_ok = row.ok;
        track.last_detail = detail;
        track.last_slot = slot;
    }
    track.retested = !first_record;
    // A module counts once for each image it was written with, however
    // often and in whatever order: the track keeps the first image, the rare
    // module written with a second one has its pairs in a set.
    if (row.ok && image >= 0 && track.written != image + 1) {
        if (track.written == 0) {
            track.written = image + 1;
            ++image_tallies_[size_t(image)].modules;
        } else if (more_images_written_.insert((quint64(link) << 32) | quint32(image)).second) {
            ++image_tallies_[size_t(image)].modules;
        }
    }
}

bool ShiftTally::later_than_last(const Track &t, bool ok, int detail, int place, qint16 offset) const
{
    if (ok != t.last_ok)
        return !ok;
    const auto key = [this](int detail, int place, qint16 offset) {
        return std::make_tuple(detail >= 0 ? std::string_view(details_.text(detail)) : std::string_view(),
                               station_names_.at(port_station_[size_t(place)]), place_by_slot(place),
                               std::string_view(port_keys_.text(place)).substr(sizeof(int) + 1), offset);
    };
    return key(detail, place, offset) > key(t.last_detail, t.last_slot, t.last_offset);
}

const ShiftTally::Track *ShiftTally::last_failed_track(quint32 module) const
{
    const Track *last = nullptr;
    for (quint32 link = module_tracks_[module]; link != 0; link = tracks_[link - 1].next) {
        const Track &t = tracks_[link - 1];
        if (!t.last_ok && (!last || t.last_instant > last->last_instant
                           || (t.last_instant == last->last_instant
                               && operations_.text(t.operation) > operations_.text(last->operation))))
            last = &t;
    }
    return last;
}

ShiftFigures ShiftTally::figures() const
{
    ShiftFigures f;
    f.files = files_;
    f.range_given = from_given_ || to_given_;
    f.records = records_;
    f.ok_records = ok_records_;
    f.modules = module_tracks_.size();
    f.without_identity = without_identity_;
    f.refused_records = refused_;
    f.again_records = again_;
    for (int i = 0; i < operations_.size(); ++i)
        f.operations.append({text_of(operations_.text(i)), operation_records_[size_t(i)]});
    by_count(&f.operations);
    f.failed_records = failed_;
    for (int i = 0; i < details_.size(); ++i)
        f.failures.append({text_of(details_.text(i)), detail_records_[size_t(i)]});
    by_count(&f.failures);
    f.unreadable = unreadable_;
    f.unreadable_rows = unreadable_rows_;
    std::vector<ShiftFigures::ServedBy> operators = operators_, work_orders = work_orders_;
    fill_yields(&f, &operators, &work_orders);
    const auto by_name = [](std::vector<ShiftFigures::ServedBy> &tallies) {
        std::sort(tallies.begin(), tallies.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
        return QVector<ShiftFigures::ServedBy>(tallies.begin(), tallies.end());
    };
    f.operators = by_name(operators);
    f.work_orders = by_name(work_orders);
    fill_buckets(&f);
    fill_slots(&f);
    fill_images(&f);
    fill_made_under(&f);
    fill_failed_modules(&f);
    labels_.fill(&f);
    return f;
}

void ShiftTally::fill_yields(ShiftFigures *f, std::vector<ShiftFigures::ServedBy> *operators,
                             std::vector<ShiftFigures::ServedBy> *work_orders) const
{
    std::vector<ShiftFigures::Yield> by_operation(size_t(operations_.size()));
    ShiftFigures::Yield all;
    all.operation = QStringLiteral("all");
    for (const quint32 head : module_tracks_) {
        bool first_pass = true, final_pass = true, retested = false;
        quint32 first = head;
        for (quint32 link = head; link != 0; link = tracks_[link - 1].next) {
            const Track &t = tracks_[link - 1];
            const Track &earliest = tracks_[first - 1];
            if (std::make_pair(t.first_instant, t.first_offset) < std::make_pair(earliest.first_instant, earliest.first_offset)
                || (std::make_pair(t.first_instant, t.first_offset)
                        == std::make_pair(earliest.first_instant, earliest.first_offset)
                    && owner_before(track_owners_[link - 1], track_owners_[first - 1])))
                first = link;
            ShiftFigures::Yield &y = by_operation[t.operation];
            ++y.modules;
            y.first_pass += t.first_ok;
            y.final_pass += t.last_ok;
            y.retests += t.retested;
            first_pass = first_pass && t.first_ok;
            final_pass = final_pass && t.last_ok;
            retested = retested || t.retested;
        }
        ++all.modules;
        all.first_pass += first_pass;
        all.final_pass += final_pass;
        all.retests += retested;
        const Owner owner = track_owners_[first - 1];
        for (ShiftFigures::ServedBy *by : {&(*operators)[size_t(owner.served_by)], &(*work_orders)[size_t(owner.work_order)]}) {
            ++by->modules;
            by->first_pass += first_pass;
            by->final_pass += final_pass;
        }
    }
    f->yields.append(all);
    for (const ShiftFigures::Count &operation : f->operations) {
        for (int i = 0; i < operations_.size(); ++i) {
            if (text_of(operations_.text(i)) == operation.name && by_operation[size_t(i)].modules > 0) {
                by_operation[size_t(i)].operation = operation.name;
                f->yields.append(by_operation[size_t(i)]);
            }
        }
    }
}

void ShiftTally::fill_buckets(ShiftFigures *f) const
{
    if (records_ == 0 && !(from_given_ && to_given_))
        return;
    f->from_wall_ms = from_given_ ? from_ : floor_to(min_wall_, hour_ms);
    f->to_wall_ms = to_given_ ? to_ : floor_to(max_wall_, hour_ms) + hour_ms;
    // Over a month, hourly bars would be too thin to read: a bar a day, and
    // over 1000 days (a station's clock far off) a bar for as many days as
    // keep the chart at 1000 bars.
    const qint64 span = f->to_wall_ms - f->from_wall_ms, day = 24 * hour_ms;
    f->bucket_ms = span <= 31 * day ? hour_ms : day * std::max<qint64>(1, (span + 1000 * day - 1) / (1000 * day));
    // Bars of several days start at the range's first midnight.
    const qint64 start = floor_to(f->from_wall_ms, std::min(f->bucket_ms, day));
    const qint64 count = (f->to_wall_ms - 1 - start) / f->bucket_ms + 1;
    f->buckets.resize(int(count));
    for (int i = 0; i < count; ++i)
        f->buckets[i].start_wall_ms = start + i * f->bucket_ms;
    const auto bucket_of = [&](qint64 wall) { return int((wall - start) / f->bucket_ms); };
    for (const auto &hour : hour_operations_)
        f->buckets[bucket_of(hour.first)].operations += hour.second;
    // A module counts in the hour of its first record.
    for (const quint32 head : module_tracks_) {
        const Track *first = nullptr;
        for (quint32 link = head; link != 0; link = tracks_[link - 1].next)
            if (!first || tracks_[link - 1].first_instant < first->first_instant
                || (tracks_[link - 1].first_instant == first->first_instant
                    && tracks_[link - 1].first_offset < first->first_offset))
                first = &tracks_[link - 1];
        ++f->buckets[bucket_of(first->first_instant + qint64(first->first_offset) * 60000)].modules;
    }
    f->busiest = f->quietest = 0;
    for (int i = 1; i < f->buckets.size(); ++i) {
        if (f->buckets[i].modules > f->buckets[f->busiest].modules)
            f->busiest = i;
        if (f->buckets[i].modules < f->buckets[f->quietest].modules)
            f->quietest = i;
    }
    f->modules_per_hour = double(f->modules) / (double(count * f->bucket_ms) / double(hour_ms));
}

QString ShiftTally::place_name(int place) const
{
    return text_of(std::string_view(port_keys_.text(place)).substr(sizeof(int) + 1));
}

bool ShiftTally::place_by_slot(int place) const
{
    return port_keys_.text(place)[sizeof(int)] == 's';
}

void ShiftTally::fill_slots(ShiftFigures *f) const
{
    const double whole = f->yield_pct();
    const auto figures_of = [whole](const QString &station, const QString &port, const SlotTally &slot) {
        ShiftFigures::Slot s {station, port, slot.operations, slot.ok, slot.durations.percentile(50),
                              slot.durations.percentile(95), false};
        s.below = slot.operations > 0 && 100.0 * double(slot.ok) / double(slot.operations) < whole - below_points;
        return s;
    };
    for (int i = 0; i < station_names_.size(); ++i) {
        const quint64 refused = size_t(i) < station_refused_.size() ? station_refused_[size_t(i)] : 0;
        if (stations_[size_t(i)].operations > 0 || refused > 0) {
            f->stations.append(figures_of(station_names_.at(i), QString(), stations_[size_t(i)]));
            f->stations.last().refused = refused;
        }
    }
    for (int i = 0; i < port_keys_.size(); ++i) {
        f->ports.append(figures_of(station_names_.at(port_station_[size_t(i)]), place_name(i), ports_[size_t(i)]));
        f->ports.last().by_slot = place_by_slot(i);
    }
    // A station's slots first, then the ports of its records without one.
    const auto by_name = [](const ShiftFigures::Slot &a, const ShiftFigures::Slot &b) {
        if (a.station != b.station)
            return a.station < b.station;
        return a.by_slot != b.by_slot ? a.by_slot : a.port < b.port;
    };
    std::sort(f->stations.begin(), f->stations.end(), by_name);
    std::sort(f->ports.begin(), f->ports.end(), by_name);
}

void ShiftTally::fill_images(ShiftFigures *f) const
{
    for (int i = 0; i < images_.size(); ++i) {
        const ImageTally &t = image_tallies_[size_t(i)];
        ShiftFigures::Image image;
        image.sha256 = text_of(images_.text(i));
        image.operation = text_of(operations_.text(t.operation));
        for (const auto &name : t.names)
            image.names << text_of(name.second);
        image.more_names = t.more_names;
        image.bytes = t.bytes;
        image.modules = t.modules;
        image.ok = t.ok;
        image.failed = t.failed;
        for (size_t s = 0; s < t.stations.size(); ++s)
            if (t.stations[s])
                image.stations << station_names_.at(int(s));
        image.stations.sort();
        f->images.append(image);
    }
    std::sort(f->images.begin(), f->images.end(), [](const ShiftFigures::Image &a, const ShiftFigures::Image &b) {
        // The digest last: the same figures whatever order the records came in.
        if (a.operation != b.operation)
            return a.operation < b.operation;
        return a.modules != b.modules ? a.modules > b.modules : a.sha256 < b.sha256;
    });
}

void ShiftTally::fill_made_under(ShiftFigures *f) const
{
    for (int i = 0; i < made_under_keys_.size(); ++i) {
        const std::string_view key = std::string_view(made_under_keys_.text(i)).substr(sizeof(int));
        const size_t zero = key.find('\0');
        const MadeUnderTally &t = made_under_[size_t(i)];
        f->made_under.append({station_names_.at(made_under_station_[size_t(i)]), text_of(key.substr(0, zero)),
                              text_of(key.substr(zero + 1)), t.records, t.first_wall, t.last_wall});
    }
    std::sort(f->made_under.begin(), f->made_under.end(), [](const auto &a, const auto &b) {
        return std::tie(a.station, a.first_wall_ms, a.recipe_sha256, a.image_sha256)
               < std::tie(b.station, b.first_wall_ms, b.recipe_sha256, b.image_sha256);
    });
}

void ShiftTally::fill_failed_modules(ShiftFigures *f) const
{
    std::vector<std::pair<qint64, quint32>> failed;
    for (quint32 m = 0; m < quint32(module_tracks_.size()); ++m)
        if (const Track *last = last_failed_track(m))
            failed.emplace_back(last->last_instant, m);
    f->failed_modules = failed.size();
    // Modules whose last failures share a millisecond by their identity, not
    // by which came first in the journals.
    std::sort(failed.begin(), failed.end(), [this](const auto &a, const auto &b) {
        return a.first != b.first ? a.first < b.first : identities_.parts(a.second) < identities_.parts(b.second);
    });
    failed.resize(std::min(failed.size(), size_t(failed_modules_kept)));
    for (const auto &entry : failed) {
        const Track &last = *last_failed_track(entry.second);
        const auto identity = identities_.parts(entry.second);
        f->failed_module_rows.append({text_of(identity.first), text_of(identity.second),
                                      text_of(operations_.text(int(last.operation))),
                                      last.last_detail >= 0 ? text_of(details_.text(last.last_detail)) : QString(),
                                      station_names_.at(port_station_[size_t(last.last_slot)]),
                                      place_name(last.last_slot),
                                      last.last_instant + qint64(last.last_offset) * 60000, place_by_slot(last.last_slot)});
    }
}
