#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <string_view>

// Times as the journal writes them: the station's local date and time with
// its offset from UTC. The report orders records by the instant (UTC) and
// shows them, buckets them and takes --from/--to by the local date and time
// as written, so that a line whose stations share a zone reads in its own
// hours without the machine running the report being in that zone.
//
// Both are milliseconds since 1970-01-01T00:00 of their own clock, computed
// by hand: a million records through QDateTime cost more than the rest of
// the report.
struct JournalTime
{
    qint64 instant_ms = 0;  // UTC
    qint64 wall_ms = 0;     // local date and time as written
    int offset_minutes = 0;
};

constexpr qint64 hour_ms = 3600 * 1000;

// "2026-12-06T14:21:54.636+08:00"; the fraction and the offset may be left
// out, and the offset may be "Z". False for anything else.
bool parse_journal_time(std::string_view text, JournalTime *time);

// A local date-time as an operator types it for --from and --to:
// "2026-12-06T06:00", with ":ss" or a blank for the "T", or a date alone
// (its midnight). False for anything else.
bool parse_local_time(const QString &text, qint64 *wall_ms);

// "2026-12-06 14:00" (minutes always shown; seconds only when not zero).
QString wall_text(qint64 wall_ms);
// "2026-12-06T14:00" as the options take it.
QString wall_iso(qint64 wall_ms);

// "2026-12-06 14:21:54.636", as the database reads a timestamp.
QByteArray timestamp_text(qint64 ms);

// The start of the hour a wall time falls in (floor, also before 1970).
qint64 floor_to(qint64 wall_ms, qint64 step_ms);
