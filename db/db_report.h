#pragma once

#include <QString>
#include <QStringList>

class PgLink;
class ShiftTally;

// Feeds the records the database holds into the report's tally as one
// source, `file`. The range and the stations are applied by the database
// (its time and station indexes), so that only the records the report counts
// travel; they stream as one copy, in the database's own order. False with *error set when the database
// refused or went away.
bool read_database_records(PgLink *link, bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms,
                           const QStringList &stations, ShiftTally *tally, int file, QString *error);

// The label events of the passes in the range and of the stations, as the
// label journals' rows, into the tally. False with *error set when the
// database refused or went away.
bool read_database_label_events(PgLink *link, bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms,
                                const QStringList &stations, ShiftTally *tally, QString *error);
