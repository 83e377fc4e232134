#pragma once

#include <QString>

class PgLink;

// The line's store: kv20_records, one row per journal record keyed by its
// record_id, and kv20_schema, the version of this layout.
namespace db_schema {

// 1: the records as the journal had them then; 2: their USB slot.
inline constexpr int version = 2;

// Creates or brings the tables and indexes up to this version; running it
// again changes nothing.
bool init(PgLink *link, QString *error);
// Whether the database holds this version's tables; else why not, in words
// that say what to do.
bool check(PgLink *link, QString *error);

} // namespace db_schema
