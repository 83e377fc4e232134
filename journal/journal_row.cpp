#include "journal/journal_row.h"

#include "journal/journal_format.h"

namespace {

namespace format = journal_format;

// The columns the report reads, in the order of JournalColumns::Column.
const std::string_view names[] = {
    format::column_names[format::time],         format::column_names[format::port],
    format::column_names[format::operation],    format::column_names[format::device_number],
    format::column_names[format::imei_or_mac],  format::column_names[format::image],
    format::column_names[format::image_bytes],  format::column_names[format::image_sha256],
    format::column_names[format::result],       format::column_names[format::detail],
    format::column_names[format::duration_ms]};

} // namespace

bool JournalColumns::read_header(const JournalScanner::Row &header, QString *missing)
{
    QStringList absent;
    for (int c = 0; c < count; ++c) {
        index_[c] = -1;
        for (size_t i = 0; i < header.fields.size(); ++i)
            if (header.fields[i] == names[c])
                index_[c] = int(i);
        if (index_[c] < 0)
            absent << QString::fromLatin1(names[c].data(), int(names[c].size()));
    }
    station_index_ = slot_index_ = -1;
    for (size_t i = 0; i < header.fields.size(); ++i) {
        if (header.fields[i] == format::column_names[format::station])
            station_index_ = int(i);
        if (header.fields[i] == format::column_names[format::slot])
            slot_index_ = int(i);
    }
    width_ = header.fields.size();
    header_copy_.clear();
    for (const std::string_view field : header.fields)
        header_copy_.append(field).push_back(',');
    *missing = absent.join(QStringLiteral(", "));
    return absent.isEmpty() && !header.torn;
}

bool JournalColumns::is_header(const JournalScanner::Row &row) const
{
    if (row.fields.size() != width_)
        return false;
    size_t at = 0;
    for (const std::string_view field : row.fields) {
        if (header_copy_.compare(at, field.size(), field) != 0 || header_copy_[at + field.size()] != ',')
            return false;
        at += field.size() + 1;
    }
    return true;
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
    const auto field = [&](Column c) { return row.fields[size_t(index_[c])]; };
    if (!parse_journal_time(field(time), &out->time))
        return "no time";
    const std::string_view result_text = field(result);
    if (result_text != format::result_ok && result_text != format::result_failed)
        return "result neither ok nor failed";
    out->ok = result_text == format::result_ok;
    if (!parse_journal_count(field(duration_ms), &out->duration_ms))
        return "no duration";
    out->image_bytes = -1;
    if (!field(image_bytes).empty() && !parse_journal_count(field(image_bytes), &out->image_bytes))
        return "image_bytes not a number";
    // Values as they were before the journal stored them (formulas
    // neutralised, line breaks written out).
    const auto value = [&](Column c, std::string *scratch) {
        return format::original_value(field(c), scratch);
    };
    out->operation = value(operation, &out->scratch[0]);
    if (out->operation.empty())
        return "no operation";
    out->port = value(port, &out->scratch[1]);
    out->device_number = value(device_number, &out->scratch[2]);
    out->imei_or_mac = value(imei_or_mac, &out->scratch[3]);
    out->image = value(image, &out->scratch[4]);
    out->image_sha256 = field(image_sha256);
    out->detail = value(detail, &out->scratch[5]);
    out->station = station_index_ < 0 ? std::string_view()
                                       : format::original_value(row.fields[size_t(station_index_)], &out->scratch[6]);
    out->slot = slot_index_ < 0 ? std::string_view()
                                : format::original_value(row.fields[size_t(slot_index_)], &out->scratch[7]);
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
