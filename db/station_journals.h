#pragma once

#include <QStringList>

#include <functional>

class JournalReader;

// The journal and its side files (and journals set aside as older) in
// `folder`: what a station uploads.
QStringList station_journals(const QString &folder);

// Every ok record of those journals, given to `take` as the reader stands
// on it; a journal that cannot be read is passed over. One walk at start-up
// serves everything that wants the records kept before.
void read_ok_records(const QString &folder, const std::function<void(const JournalReader &)> &take);
