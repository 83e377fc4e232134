#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

// One connection to PostgreSQL through libpq, driven without blocking: every
// wait on the server (connecting, a statement) polls the socket in short
// slices and gives up when `give_up` says so, so that a server that went
// silent never holds the caller past its own deadline. Not thread-safe: one
// thread uses it.
class PgLink
{
public:
    // Polled at least every 100 ms while waiting on the server.
    using GiveUp = std::function<bool()>;
    static constexpr int connect_wait_ms = 10000;

    explicit PgLink(GiveUp give_up = {});
    ~PgLink();
    PgLink(const PgLink &) = delete;
    PgLink &operator=(const PgLink &) = delete;

    // `url`: a libpq connection URI or keyword string. The password comes
    // from libpq's own sources (PGPASSWORD, the password file) or the URL
    // itself, and is never part of *error.
    bool connect(const QString &url, QString *error);
    bool connected() const;
    void disconnect();

    struct Result
    {
        bool ok = false;
        QString error;         // the server's or libpq's message
        QByteArray sql_state;  // such as 42P01, an undefined table
        qint64 affected = 0;   // rows a command changed
        std::vector<std::vector<QByteArray>> rows;  // text values
        std::vector<std::vector<bool>> nulls;
    };
    // One statement, parameters as text (a null QByteArray is SQL NULL).
    Result exec(const char *sql, const std::vector<QByteArray> &params = {});

    // A `COPY (...) TO STDOUT` in text format: each row's line, its line end
    // included, handed to `line` as it arrives, so that a large result is
    // neither gathered nor sent by a round trip per batch. COPY takes no
    // parameters: values go in as literal().
    Result copy_out(const char *sql, const std::function<void(const char *, int)> &line);
    // `value` as an SQL literal, quoted and escaped for this connection;
    // NULL for a null QByteArray; a null QByteArray when it cannot be
    // quoted (not valid in the connection's encoding, no connection).
    QByteArray literal(const QByteArray &value) const;

    // Where `url` leads, for messages: host, port, database and user as
    // libpq resolves them, never the password.
    static QString describe(const QString &url);
    // Whether libpq reads `url` as a connection URI or keyword string.
    static bool readable(const QString &url);

private:
    bool wait_socket(bool for_write, QString *error);
    bool expired() const;

    GiveUp give_up_;
    pg_conn *conn_ = nullptr;
    qint64 deadline_ms_ = 0;  // 0: none beyond give_up_
};
