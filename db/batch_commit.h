#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class PgLink;

// One batch of rows in a transaction of its own: all of them or none.
// `sending` is told true while the database holds the transaction and false
// after (the window's "sending" state); `before_commit`, where given, runs
// between the insert and the commit (a test stops the process there).
// *inserted: the rows the insert added, those already there left out.
// False, with the server's words, when any step fails: rolled back.
bool commit_batch(PgLink *link, const char *insert, const std::vector<QByteArray> &parameters,
                  const std::function<void(bool)> &sending, qint64 *inserted, QString *error,
                  const std::function<void()> &before_commit = nullptr);
