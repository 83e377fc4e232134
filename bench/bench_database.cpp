#include "bench/bench_database.h"

#include "db/pg_link.h"

#include <QUuid>

#include <cstdio>

int make_bench_database(PgLink *admin, QString *name, QString *url)
{
    const QString server = qEnvironmentVariable("KV20_TEST_DB_URL");
    if (server.isEmpty()) {
        std::fprintf(stderr, "KV20_TEST_DB_URL names no server (source scripts/test-db.sh; kv20_test_db_start DIR)\n");
        return 77;
    }
    QString error;
    *name = QStringLiteral("kv20_bench_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    if (!admin->connect(server, &error) || !admin->exec(("CREATE DATABASE " + *name).toUtf8().constData()).ok) {
        std::fprintf(stderr, "no database on %s: %s\n", qPrintable(PgLink::describe(server)), qPrintable(error));
        return 1;
    }
    *url = server.left(server.lastIndexOf(QLatin1Char('/')) + 1) + *name;
    return 0;
}
