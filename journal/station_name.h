#pragma once

#include <QString>

// The station's name as records carry it: `name` under `[station]` in
// station.ini, else in config.ini, in `folder` (where the journal is); else
// the host name. Read once per journal, so that an edit takes effect at the
// next start.
QString station_name(const QString &folder);

// The station of a journal whose records do not name one (written before
// records did): its folder (line2/station3/kv20-journal.csv is station3), or
// its file name for a renamed journal (share/station3.csv), as a supervisor
// copies them.
QString station_of_journal_path(const QString &path);
