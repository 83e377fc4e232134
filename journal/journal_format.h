#pragma once

// The results journal's format, written once for everything that writes or
// reads it: the journal writer, the report's reader, the command line's JSON,
// the benchmarks and the tests. Free of Qt so that any reader can use it.
//
// A journal is UTF-8 with a byte-order mark, RFC 4180 CSV with CR LF line
// ends, a header row naming the columns, then one record per physical line.
//
// A value never holds a raw line break in the file. A module's reply is
// outside anyone's control, and a line break in it would put the next
// record's line start inside a quoted field: an append that judges a torn
// last record from the file's end alone, or any reader that resumes at a
// line, could then take text of the module's for a record's start. With one
// record per line, the last line is the last record, whatever the values
// hold. Journals written before this rule may still hold quoted line breaks;
// they are also the journals without a record_id column (the rule came
// first, and a journal without the newest columns is set aside before the
// next record). So a journal whose header names record_id holds one record
// a line, and its readers take each line as a row of its own: a stray quote
// costs that one row, never the rows after it. Older journals are read as
// RFC 4180 says, a line break inside quotes belonging to the value.
//
// Stored value = the value as it is, unless it
//   - holds a CR or LF: "'\" followed by the value with "\" as "\\", CR as
//     "\r" and LF as "\n";
//   - else starts with a character a spreadsheet runs as a formula (= + - @
//     tab) or with the apostrophe itself: "'" followed by the value.
// So every stored value that starts with "'" has one added, and a value that
// truly begins with "'=" reads back as written. Ordinary values (Windows
// paths with their backslashes, Chinese texts) are stored unchanged.

#include "interfaces/failure.h"

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace journal_format {

inline constexpr std::string_view file_name = "kv20-journal.csv";
// A side file: prefix, the process's start as yyyyMMdd-HHmmss, suffix.
inline constexpr std::string_view side_file_prefix = "kv20-journal-unsaved-";
inline constexpr std::string_view side_file_stamp = "yyyyMMdd-HHmmss";  // a QDateTime format
inline constexpr std::string_view side_file_suffix = ".csv";
// A journal written before the newest columns, set aside under its lock so
// that every record in kv20-journal.csv has the columns its header names:
// prefix, the time it was set aside as side_file_stamp, a counter from 2
// when that name is taken, suffix. Records already written are never
// rewritten, so an older journal is renamed rather than given new columns.
inline constexpr std::string_view older_file_prefix = "kv20-journal-older-";

inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
inline constexpr std::string_view line_end = "\r\n";

enum Column {
    time, tool, port, operation, device_number, imei_or_mac, iccid_or_audio_version, device_version, image,
    image_bytes, image_sha256, result, detail, duration_ms,
    // Added later, at the end, so that an older journal's header is a
    // beginning of this one's.
    record_id, station, slot,
    operator_id, work_order, product, recipe_sha256, again_of, again_checked, column_count
};

// One line a column, in the journal's order (the order of Column): its name
// in the header, whether every journal has it (journals from before a column
// lack it), the database schema version that brought it to kv20_records and
// its type there. The writer's row, the readers, the database's tables, its
// insert and the report's copy are all made from this table, so that a new
// column is one line here (and the record's field the writer takes it from).
struct ColumnSpec
{
    std::string_view name;
    bool in_every_journal;
    int since_schema;
    // "text", "bigint" or "uuid" first: how the value goes into the database
    // (an empty value of a type other than text is NULL); then its
    // constraints.
    std::string_view sql_type;
};
inline constexpr ColumnSpec columns[] = {
    {"time", true, 1, "text NOT NULL"},
    {"tool", true, 1, "text NOT NULL"},
    {"port", true, 1, "text NOT NULL"},
    {"operation", true, 1, "text NOT NULL"},
    {"device_number", true, 1, "text NOT NULL"},
    {"imei_or_mac", true, 1, "text NOT NULL"},
    {"iccid_or_audio_version", true, 1, "text NOT NULL"},
    {"device_version", true, 1, "text NOT NULL"},
    {"image", true, 1, "text NOT NULL"},
    {"image_bytes", true, 1, "bigint"},
    {"image_sha256", true, 1, "text NOT NULL"},
    {"result", true, 1, "text NOT NULL CHECK (result IN ('ok', 'failed', 'refused'))"},
    {"detail", true, 1, "text NOT NULL"},
    {"duration_ms", true, 1, "bigint NOT NULL"},
    {"record_id", false, 1, "uuid PRIMARY KEY"},
    {"station", false, 1, "text NOT NULL"},
    // Empty where the station did not know the slot, and for records
    // uploaded before the column: the report then goes by the port.
    {"slot", false, 2, "text NOT NULL DEFAULT ''"},
    // Who served the module, for which work order and product, under which
    // recipe (the SHA-256 of its file as read); empty where no one said (the
    // window, a command line without --operator) and in older records.
    {"operator", false, 3, "text NOT NULL DEFAULT ''"},
    {"work_order", false, 3, "text NOT NULL DEFAULT ''"},
    {"product", false, 3, "text NOT NULL DEFAULT ''"},
    {"recipe_sha256", false, 3, "text NOT NULL DEFAULT ''"},
    // The earlier ok record of the same service to the same module, where
    // the again policy found one: a module served again (warn) or refused
    // (block) names it.
    {"again_of", false, 3, "uuid"},
    // Where the again policy looked (again_checked_words); empty: it did
    // not (allow).
    {"again_checked", false, 3, "text NOT NULL DEFAULT ''"},
};
static_assert(sizeof columns / sizeof columns[0] == column_count, "a line for every column");

// A record's id: a UUID in its canonical form, 8-4-4-4-12 hexadecimal
// digits. Anything else (braces, trailing text) names no record, and the
// database would refuse the batch that holds it.
inline bool canonical_uuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}

// Local time with its offset, never "Z": 2026-12-06T14:21:54.636+08:00.
inline constexpr std::string_view time_format = "yyyy-MM-ddTHH:mm:ss.zzz";  // a QDateTime format, then +HH:MM
inline constexpr std::size_t time_length = 29;

// The operation column's words, by operation type 0, 1, 2.
inline constexpr std::string_view operation_words[] = {"query", "audio", "firmware"};

inline constexpr std::string_view result_ok = "ok";
inline constexpr std::string_view result_failed = "failed";
// Not served: done before, and the again policy blocks it. Neither a pass
// nor a failure. The three words are the result column's closed set.
inline constexpr std::string_view result_refused = "refused";

// The again_checked column's words: the journals alone (the station has no
// database), the journals and the database, or the journals alone because
// the database did not answer in time (other stations were not asked).
namespace again_checked_words {
inline constexpr std::string_view journals = "journals";
inline constexpr std::string_view database = "journals and database";
inline constexpr std::string_view unanswered = "journals only: the database did not answer";
} // namespace again_checked_words

// The detail of a failed record: why, in the journal's words.
namespace detail_text {
inline constexpr std::string_view port_not_opened = "port did not open";
inline constexpr std::string_view no_reply = "no reply";
inline constexpr std::string_view image_not_found = "image not found";
inline constexpr std::string_view image_too_large = "image too large";
inline constexpr std::string_view image_changed = "image changed";
inline constexpr std::string_view no_acknowledgement = "no acknowledgement";
inline constexpr std::string_view transfer_error = "transfer error ";  // then the transmitter's code: -1, -2, -4
inline constexpr std::string_view interrupted = "interrupted";
inline constexpr std::string_view unplugged = "unplugged";
inline constexpr std::string_view done_before = "done before";  // then " at " and where (the earlier record's)
} // namespace detail_text

// Each failure's words in the detail column, in the order of Failure: the
// one table the writer takes the words from and a reader takes them back
// by. The words never change: journals, the report, the database and the
// tests hold them.
struct FailureWords
{
    Failure failure;
    std::string_view words;
};
inline constexpr FailureWords failure_words[] = {
    {Failure::none, ""},
    {Failure::port_not_opened, detail_text::port_not_opened},
    {Failure::no_reply, detail_text::no_reply},
    {Failure::image_not_found, detail_text::image_not_found},
    {Failure::image_too_large, detail_text::image_too_large},
    {Failure::image_changed, detail_text::image_changed},
    {Failure::no_acknowledgement, detail_text::no_acknowledgement},
    {Failure::transfer_error, detail_text::transfer_error},
    {Failure::interrupted, detail_text::interrupted},
    {Failure::unplugged, detail_text::unplugged},
    {Failure::done_before, detail_text::done_before},
};
constexpr bool failure_words_in_order()
{
    for (std::size_t i = 0; i < sizeof failure_words / sizeof failure_words[0]; ++i)
        if (failure_words[i].failure != Failure(i))
            return false;
    return true;
}
static_assert(sizeof failure_words / sizeof failure_words[0] == std::size_t(last_failure) + 1
                  && failure_words_in_order(),
              "words for every failure, in the order of Failure");

// The detail column's words for a failure: empty for none.
inline std::string detail_words(OperationFailure failure)
{
    std::string words(failure_words[std::size_t(failure.kind)].words);
    if (failure.kind == Failure::transfer_error)
        words += std::to_string(failure.code);
    return words;
}

// The failure a detail column's words name; nothing for words that name
// none of them (an older journal's, a hand edit), which stay text. Only the
// words detail_words writes name one: "transfer error 04" names none. A
// refusal's words name it whatever place and time follow them.
inline std::optional<OperationFailure> failure_named(std::string_view words)
{
    for (const FailureWords &known : failure_words) {
        OperationFailure failure(known.failure);
        if (known.failure == Failure::done_before && words.substr(0, known.words.size()) == known.words)
            return failure;
        if (known.failure == Failure::transfer_error && words.substr(0, known.words.size()) == known.words) {
            const std::string_view code = words.substr(known.words.size());
            if (std::from_chars(code.data(), code.data() + code.size(), failure.code).ec != std::errc())
                continue;
        }
        if (detail_words(failure) == words)
            return failure;
    }
    return std::nullopt;
}

inline constexpr char text_mark = '\'';
inline constexpr std::string_view formula_starts = "=+-@\t\r";

// The value as the journal stores it (before CSV quoting), from UTF-8.
inline std::string stored_value(std::string_view value)
{
    const bool breaks = value.find_first_of("\r\n") != std::string_view::npos;
    if (!breaks) {
        if (!value.empty() && (value[0] == text_mark || formula_starts.find(value[0]) != std::string_view::npos))
            return text_mark + std::string(value);
        return std::string(value);
    }
    std::string stored = {text_mark, '\\'};
    stored.reserve(value.size() + value.size() / 8 + 4);
    for (const char c : value) {
        switch (c) {
        case '\\': stored += "\\\\"; break;
        case '\r': stored += "\\r"; break;
        case '\n': stored += "\\n"; break;
        default: stored += c;
        }
    }
    return stored;
}

// The value a stored one stands for. Stored text that starts with "'" but
// follows neither rule (a journal from before them, a hand edit) is taken as
// it stands. `*scratch` holds the result where it differs from a part of
// `stored`; the view returned is valid while both are.
inline std::string_view original_value(std::string_view stored, std::string *scratch)
{
    if (stored.size() < 2 || stored[0] != text_mark)
        return stored;
    const char second = stored[1];
    if (second == text_mark || formula_starts.find(second) != std::string_view::npos)
        return stored.substr(1);
    if (second != '\\')
        return stored;
    scratch->clear();
    for (std::size_t i = 2; i < stored.size(); ++i) {
        char c = stored[i];
        if (c == '\\' && i + 1 < stored.size()) {
            const char escaped = stored[++i];
            c = escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped;
        }
        scratch->push_back(c);
    }
    return *scratch;
}

} // namespace journal_format
