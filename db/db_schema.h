#pragma once

#include <QByteArray>
#include <QString>

class PgLink;

// The line's store: kv20_records, one row per journal record keyed by its
// record_id (its columns are the journal's, journal_format::columns, with
// the record's wall and UTC time besides), and kv20_schema, the version of
// this layout and the database's own identity: a random id given by db init,
// so that a station knows the database it sent records to from one made
// anew under the same name, whatever the URL that leads there.
namespace db_schema {

// 1: the records as the journal had them then; 2: their USB slot; 3: who
// served them, the work order, product and recipe, the again policy's
// finding, the result "refused", and an index on the module's identity for
// the again policy's question. The
// identity came later without a new version: programs of version 2 that do
// not know it read and write the tables as before. 4: kv20_label_events,
// the label journals' events.
inline constexpr int version = 4;

// Creates or brings the tables and indexes up to this version and gives the
// database its identity once; running it again changes nothing.
bool init(PgLink *link, QString *error);
// Whether the database holds this version's tables and an identity (in
// *identity); else why not, in words that say what to do.
bool check(PgLink *link, QByteArray *identity, QString *error);

} // namespace db_schema
