#pragma once

#include "journal/journal_format.h"
#include "journal/journal_scanner.h"
#include "journal/journal_time.h"

#include <QString>

#include <string>
#include <string_view>

// One journal record with the fields the report reads, as views into the
// scanner's row.
struct JournalRow
{
    JournalTime time;
    std::string_view port, operation, device_number, imei_or_mac, image, image_sha256, detail;
    std::string_view station;  // empty where the journal has no station column
    std::string_view slot;     // empty where unknown or the journal has no slot column
    // Empty where no one said, or the journal has no such column.
    std::string_view operator_id, work_order, recipe_sha256, again_of;
    qint64 image_bytes = -1;  // -1: none read
    bool ok = false;
    bool refused = false;  // done before, not served: neither ok nor failed
    qint64 duration_ms = 0;
    std::string scratch[12];  // holds the values that differ from their stored text
};

// The columns the report reads, in the order the database's copy gives them.
inline constexpr journal_format::Column report_columns[] = {
    journal_format::time,        journal_format::port,         journal_format::operation,
    journal_format::device_number, journal_format::imei_or_mac, journal_format::image,
    journal_format::image_bytes, journal_format::image_sha256, journal_format::result,
    journal_format::detail,      journal_format::duration_ms,  journal_format::station,
    journal_format::slot,        journal_format::operator_id,  journal_format::work_order,
    journal_format::recipe_sha256, journal_format::again_of,
};

// A count as the journal writes it (image_bytes, duration_ms): decimal
// digits only, at most 18 of them, so that it never overflows.
bool parse_journal_count(std::string_view text, qint64 *value);

// The rule every reader holds a record to, whatever it reads it for: the
// report, the upload, the database's own copy. The columns are found by name
// in a journal's header row, so that a journal with columns added later still
// reads.
class JournalColumns
{
public:
    // How the values stand in the rows: as a journal stores them (the marks
    // of journal_format.h still to undo), or as they were (the database's).
    enum Values { stored, original };

    // The journal's columns, from its header; false with the missing ones in
    // *missing when the row is not a journal's header.
    bool read_header(const JournalScanner::Row &header, QString *missing);
    // Rows of the `order` columns alone, values as they were.
    void read_in_order(const journal_format::Column *order, size_t count);

    bool is_header(const JournalScanner::Row &row) const;
    bool has(journal_format::Column column) const { return index_[column] >= 0; }
    // A journal of one record a line (journal_format.h).
    bool lines_are_records() const { return has(journal_format::record_id); }

    // Null when the record reads; else why not, in a few words.
    const char *parse(const JournalScanner::Row &row, JournalRow *out) const;
    // Any column's value as it was (empty where the journal lacks the
    // column), in a row parse() took.
    std::string_view value(const JournalScanner::Row &row, journal_format::Column column, std::string *scratch) const;

private:
    int index_[journal_format::column_count] = {};
    size_t width_ = 0;
    Values values_ = stored;
    std::string header_copy_;
};
