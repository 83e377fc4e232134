#include "journal/journal_row.h"

#include <QStringList>

namespace {

namespace format = journal_format;

} // namespace

bool JournalColumns::read_header(const JournalScanner::Row &header, QString *missing)
{
    QStringList absent;
    for (int c = 0; c < format::column_count; ++c) {
        index_[c] = -1;
        for (size_t i = 0; i < header.fields.size(); ++i)
            if (header.fields[i] == format::columns[c].name)
                index_[c] = int(i);
        if (index_[c] < 0 && format::columns[c].in_every_journal)
            absent << QString::fromLatin1(format::columns[c].name.data(), int(format::columns[c].name.size()));
    }
    values_ = stored;
    width_ = header.fields.size();
    header_copy_.clear();
    for (const std::string_view field : header.fields)
        header_copy_.append(field).push_back(',');
    *missing = absent.join(QStringLiteral(", "));
    return absent.isEmpty() && !header.torn;
}

void JournalColumns::read_in_order(const format::Column *order, size_t count)
{
    for (int &index : index_)
        index = -1;
    for (size_t i = 0; i < count; ++i)
        index_[order[i]] = int(i);
    values_ = original;
    width_ = count;
    header_copy_.clear();
}

bool JournalColumns::is_header(const JournalScanner::Row &row) const
{
    if (row.fields.size() != width_ || header_copy_.empty())
        return false;
    size_t at = 0;
    for (const std::string_view field : row.fields) {
        if (header_copy_.compare(at, field.size(), field) != 0 || header_copy_[at + field.size()] != ',')
            return false;
        at += field.size() + 1;
    }
    return true;
}

std::string_view JournalColumns::value(const JournalScanner::Row &row, format::Column column, std::string *scratch) const
{
    if (index_[column] < 0)
        return std::string_view();
    const std::string_view field = row.fields[size_t(index_[column])];
    return values_ == stored ? format::original_value(field, scratch) : field;
}

const char *JournalColumns::parse(const JournalScanner::Row &row, JournalRow *out) const
{
    if (row.too_long)
        return "longer than 1 MiB";
    if (row.torn)
        return "cut off at the end of the file";
    if (row.bad_quotes)
        return "quotes out of place";
    if (row.fields.size() != width_)
        return row.fields.size() < width_ ? "too few fields" : "too many fields";
    // Times, results, counts and ids are the program's own words: never
    // marked, read as they stand.
    const auto field = [&](format::Column c) { return row.fields[size_t(index_[c])]; };
    if (!parse_journal_time(field(format::time), &out->time))
        return "no time";
    const std::string_view result_text = field(format::result);
    if (result_text != format::result_ok && result_text != format::result_failed && result_text != format::result_refused)
        return "result neither ok, failed nor refused";
    out->ok = result_text == format::result_ok;
    out->refused = result_text == format::result_refused;
    if (!parse_journal_count(field(format::duration_ms), &out->duration_ms))
        return "no duration";
    out->image_bytes = -1;
    if (!field(format::image_bytes).empty() && !parse_journal_count(field(format::image_bytes), &out->image_bytes))
        return "image_bytes not a number";
    // An empty id is a record's from before ids; the upload names it.
    if (has(format::record_id) && !field(format::record_id).empty() && !format::canonical_uuid(field(format::record_id)))
        return "record_id not a UUID";
    out->operation = value(row, format::operation, &out->scratch[0]);
    if (out->operation.empty())
        return "no operation";
    out->port = value(row, format::port, &out->scratch[1]);
    out->device_number = value(row, format::device_number, &out->scratch[2]);
    out->imei_or_mac = value(row, format::imei_or_mac, &out->scratch[3]);
    out->image = value(row, format::image, &out->scratch[4]);
    out->image_sha256 = field(format::image_sha256);
    out->detail = value(row, format::detail, &out->scratch[5]);
    out->station = value(row, format::station, &out->scratch[6]);
    out->slot = value(row, format::slot, &out->scratch[7]);
    out->operator_id = value(row, format::operator_id, &out->scratch[8]);
    out->work_order = value(row, format::work_order, &out->scratch[9]);
    out->recipe_sha256 = value(row, format::recipe_sha256, &out->scratch[11]);
    if (has(format::again_of) && !field(format::again_of).empty() && !format::canonical_uuid(field(format::again_of)))
        return "again_of not a UUID";
    out->again_of = value(row, format::again_of, &out->scratch[10]);
    return nullptr;
}

bool parse_journal_count(std::string_view text, qint64 *value)
{
    if (text.empty() || text.size() > 18)
        return false;
    qint64 v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}
