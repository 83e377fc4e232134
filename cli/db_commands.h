#pragma once

#include <QStringList>

// kv20-cli db init --db URL: creates or updates the database's schema.
// Exit status 0, 1 when the database refused or cannot be reached, 2 usage.
int run_db_init_command(const QStringList &arguments);

// kv20-cli upload --db URL [JOURNAL...]: sends every record the database
// does not have yet. Exit status 0 when every record is in the database, 1
// when one is not (the database cannot be reached or refused, a row is
// unreadable), 2 usage.
int run_upload_command(const QStringList &arguments);
