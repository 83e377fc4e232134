#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

// One connection to PostgreSQL through libpq, driven without blocking and
// bounded whatever the network does: libpq is asked to go on only when its
// socket is ready for what it waits for, and every wait ends by a deadline.
// A connect ends within connect_timeout (the URL's, else
// default_connect_timeout_s), also against a host that drops every packet; a
// statement ends within statement_wait_ms, then the connection is dropped
// (the server ends the transaction with it); TCP keepalives and a TCP user
// timeout notice a peer that vanished in between (defaults the URL may
// override). `give_up` ends any wait early. Not thread-safe: one thread
// uses it.
//
// \note The name lookup of a host name is libpq's one wait that cannot be cut
// short: it happens inside PQconnectStartParams.
class PgLink
{
public:
    // Polled at least every 100 ms while waiting on the server.
    using GiveUp = std::function<bool()>;
    static constexpr int default_connect_timeout_s = 10;
    static constexpr int default_statement_wait_ms = 60000;

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
    // Every wait from now on (connect, statement) also ends within_ms from
    // now, whatever the URL's and the statement's own bounds: for a question
    // the line never waits longer for. 0: no such bound.
    void limit_waits(int within_ms);
    // The connection's socket (tests read its options); -1 when none.
    int socket() const;

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
    // parameters: values go in as literal(). Its deadline is a silence of
    // statement_wait_ms, however long the rows take to come.
    Result copy_out(const char *sql, const std::function<void(const char *, int)> &line);
    // `value` as an SQL literal, quoted and escaped for this connection;
    // NULL for a null QByteArray; a null QByteArray when it cannot be
    // quoted (not valid in the connection's encoding, no connection).
    QByteArray literal(const QByteArray &value) const;

    // Where `url` leads, for messages: host, port, database and user as
    // libpq resolves them, never the password.
    static QString describe(const QString &url);
    // A text[] parameter's literal: each value quoted, its quotes and
    // backslashes escaped.
    static QByteArray text_array(const std::vector<QByteArray> &values);
    // Why `url` is not used, in words that never repeat it (it may hold a
    // password): libpq cannot read it, or it would read a password in it as
    // something else (an @ or / not percent-encoded); empty when it is fine.
    static QString refusal(const QString &url);
    static bool readable(const QString &url) { return refusal(url).isEmpty(); }

private:
    bool wait_ready(bool for_write, QString *error);
    QString scrubbed(QString message) const;
    Result failed(Result result);

    GiveUp give_up_;
    pg_conn *conn_ = nullptr;
    qint64 deadline_ms_ = 0;
    qint64 limit_ms_ = 0;  // limit_waits(); 0: none
    QString deadline_words_;  // what ran out, for the message
    // How long a statement may take: KV20_DB_STATEMENT_WAIT_MS sets it for
    // tests, else default_statement_wait_ms.
    int statement_wait_ms_ = default_statement_wait_ms;
    QStringList secrets_;  // of the URL connected to: never in a message
};
