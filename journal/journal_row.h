#pragma once

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
    qint64 image_bytes = -1;  // -1: none read
    bool ok = false;
    qint64 duration_ms = 0;
    std::string scratch[8];  // holds the values that differ from their stored text
};

// A count as the journal writes it (image_bytes, duration_ms): decimal
// digits only, at most 18 of them, so that it never overflows.
bool parse_journal_count(std::string_view text, qint64 *value);

// The journal's columns found by name in its header row, so that a journal
// with columns added later still reads; then each record checked against
// them.
class JournalColumns
{
public:
    // False with the missing columns in *missing when the row is not a
    // journal's header.
    bool read_header(const JournalScanner::Row &header, QString *missing);
    bool is_header(const JournalScanner::Row &row) const;

    // Null when the record reads; else why not, in a few words.
    const char *parse(const JournalScanner::Row &row, JournalRow *out) const;

private:
    enum Column { time, port, operation, device_number, imei_or_mac, image, image_bytes, image_sha256, result,
                  detail, duration_ms, count };
    int index_[count] = {};
    int station_index_ = -1, slot_index_ = -1;  // columns journals from before them lack
    size_t width_ = 0;
    std::string header_copy_;
};
