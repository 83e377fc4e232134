#pragma once

#include "db/pg_link.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QUuid>

// A database of its own for one test on the server KV20_TEST_DB_URL names
// (scripts/test-db.sh starts one; the password comes from PGPASSWORD), made
// at create() and dropped when it goes.
class TestDatabase
{
public:
    static QString server_url() { return qEnvironmentVariable("KV20_TEST_DB_URL"); }

    ~TestDatabase()
    {
        if (name_.isEmpty())
            return;
        PgLink admin;
        QString error;
        if (admin.connect(server_url(), &error))
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_).toUtf8().constData());
    }

    bool create(QString *error)
    {
        name_ = QStringLiteral("kv20_t_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
        return make(false, error);
    }
    // The database dropped and made anew under the same name, empty.
    bool recreate(QString *error) { return make(true, error); }

    // The server's URL with this database in place of its own.
    QString url() const
    {
        QString url = server_url();
        return url.left(url.lastIndexOf(QLatin1Char('/')) + 1) + name_;
    }

    // One value from the database; null when the query fails.
    QByteArray value(const char *sql, const std::vector<QByteArray> &params = {}) const
    {
        PgLink link;
        QString error;
        if (!link.connect(url(), &error))
            return QByteArray();
        const PgLink::Result r = link.exec(sql, params);
        return r.ok && !r.rows.empty() ? r.rows[0][0] : QByteArray();
    }
    // One number from the database, -1 when the query fails.
    qint64 number(const char *sql) const
    {
        const QByteArray v = value(sql);
        return v.isNull() ? -1 : v.toLongLong();
    }
    QString name() const { return name_; }

private:
    bool make(bool drop_first, QString *error)
    {
        PgLink admin;
        if (!admin.connect(server_url(), error))
            return false;
        if (drop_first)
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_).toUtf8().constData());
        const PgLink::Result r = admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name_).toUtf8().constData());
        *error = r.error;
        return r.ok;
    }

    QString name_;
};

// kv20-cli (or another program of the build) run to its end in `folder`,
// with `environment` added.
struct CliRun
{
    int exit_code = -1;
    QByteArray out, err;
    qint64 elapsed_ms = 0;

    CliRun(const QStringList &args, const QString &folder, const QStringList &environment = {},
           const char *program = "kv20-cli", int wait_ms = 60000)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &pair : environment)
            env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(KV20_BIN_DIR "/") + QLatin1String(program), args);
        const bool finished = process.waitForFinished(wait_ms);
        elapsed_ms = clock.elapsed();
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};
