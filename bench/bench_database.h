#pragma once

#include <QString>

class PgLink;

// A database of the benchmark's own on the server KV20_TEST_DB_URL names
// (the password from PGPASSWORD), as scripts/test-db.sh starts it, made
// through `admin`: its name and URL. 0: made; 77: no server named (CTest
// counts the benchmark as skipped); 1: the server did not make it (said on
// standard error). The benchmark drops it.
int make_bench_database(PgLink *admin, QString *name, QString *url);
