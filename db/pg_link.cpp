#include "db/pg_link.h"

#include "db/db_log.h"
#include "interfaces/environment_wait.h"

#include <QDateTime>
#include <QRegularExpression>

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cerrno>
#include <poll.h>
#endif

namespace {

qint64 now_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// libpq's messages end with a line break and may hold several lines.
QString message_of(const char *text)
{
    return QString::fromUtf8(text).trimmed().replace(QLatin1Char('\n'), QLatin1String("; "));
}

// Waits up to `ms` for the socket: 1 when it is ready (or in error, which
// libpq then reads), 0 when the wait ran out, -1 when the wait failed.
int poll_socket(int socket, bool for_write, int ms)
{
#ifdef _WIN32
    WSAPOLLFD entry {};
    entry.fd = SOCKET(socket);
    entry.events = for_write ? POLLWRNORM : POLLRDNORM;
    const int n = WSAPoll(&entry, 1, ms);
    return n > 0 ? 1 : n;
#else
    struct pollfd entry {socket, short(for_write ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&entry, 1, ms);
    return n > 0 ? 1 : n == 0 || errno == EINTR ? 0 : -1;
#endif
}

// The server's notices ("relation already exists, skipping") are for the
// trace, not for the operator.
void trace_notice(void *, const char *message)
{
    qCDebug(db_log) << "server notice:" << message_of(message);
}

// libpq's options as it reads `url`, or null.
PQconninfoOption *parsed(const QString &url)
{
    char *why = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), &why);
    PQfreemem(why);  // it may repeat the URL, password and all
    return options;
}

QByteArray option(const PQconninfoOption *options, const char *key)
{
    for (const PQconninfoOption *o = options; o && o->keyword; ++o) {
        if (qstrcmp(o->keyword, key) == 0)
            return o->val ? QByteArray(o->val) : QByteArray();
    }
    return QByteArray();
}

// A URI's password as it was written: between "user:" and the last "@"
// before the query. Empty for keyword strings and URIs without one.
QString written_password(const QString &url)
{
    const QRegularExpressionMatch uri = QRegularExpression(QStringLiteral("^postgres(?:ql)?://([^?]*)")).match(url);
    if (!uri.hasMatch())
        return QString();
    const QString authority = uri.captured(1);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const int colon = authority.left(qMax(at, 0)).indexOf(QLatin1Char(':'));
    return at < 0 || colon < 0 ? QString() : authority.mid(colon + 1, at - colon - 1);
}

// Connection defaults; anything the URL names wins over them. Keepalives
// notice a peer gone silent within some 25 s, the user timeout (Linux) data
// left unacknowledged for 30 s.
const char *const default_keys[] = {"application_name", "client_encoding", "connect_timeout", "keepalives",
                                    "keepalives_idle", "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
const char *const default_values[] = {"kv20", "UTF8", "10", "1", "10", "5", "3", "30000"};
static_assert(sizeof default_keys == sizeof default_values, "a value for every key");

} // namespace

PgLink::PgLink(GiveUp give_up)
    : give_up_(std::move(give_up))
{
    statement_wait_ms_ = wait_from_environment("KV20_DB_STATEMENT_WAIT_MS", statement_wait_ms_);
}

PgLink::~PgLink()
{
    disconnect();
}

bool PgLink::connected() const
{
    return conn_ && PQstatus(conn_) == CONNECTION_OK;
}

void PgLink::disconnect()
{
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
}

int PgLink::socket() const
{
    return conn_ ? PQsocket(conn_) : -1;
}

void PgLink::limit_waits(int within_ms)
{
    limit_ms_ = within_ms > 0 ? now_ms() + within_ms : 0;
}

// Waits until the socket is ready for what libpq waits for, the deadline
// passes or give_up says so. libpq is never asked to go on after a wait
// that ran out: it would take a socket still connecting for a connected one
// and then wait in poll() without a bound.
bool PgLink::wait_ready(bool for_write, QString *error)
{
    for (;;) {
        if (give_up_ && give_up_()) {
            *error = QStringLiteral("gave up waiting for the server");
            return false;
        }
        const bool limited = limit_ms_ > 0 && limit_ms_ < deadline_ms_;
        const qint64 left = (limited ? limit_ms_ : deadline_ms_) - now_ms();
        if (left <= 0) {
            *error = limited ? QStringLiteral("no answer from the server within the time allowed")
                             : QStringLiteral("no answer from the server within %1").arg(deadline_words_);
            return false;
        }
        const int socket = PQsocket(conn_);
        if (socket < 0) {
            *error = scrubbed(message_of(PQerrorMessage(conn_)));
            return false;
        }
        const int ready = poll_socket(socket, for_write, int(qMin<qint64>(left, 100)));
        if (ready > 0)
            return true;
        if (ready < 0) {
            *error = QStringLiteral("the connection's socket failed");
            return false;
        }
    }
}

QString PgLink::scrubbed(QString message) const
{
    for (const QString &secret : secrets_)
        message.replace(secret, QStringLiteral("***"));
    return message;
}

QString PgLink::refusal(const QString &url)
{
    PQconninfoOption *options = parsed(url);
    if (!options)
        return QStringLiteral("a connection URL libpq cannot read (a % not followed by two hex digits, "
                              "a quote not closed, an unknown parameter)");
    const QString password = QString::fromUtf8(option(options, "password"));
    PQconninfoFree(options);
    const QString written = written_password(url);
    if (!written.isEmpty()
        && QString::fromUtf8(QByteArray::fromPercentEncoding(written.toUtf8())) != password)
        return QStringLiteral("a connection URL whose password libpq would read otherwise "
                              "(write @ as %40, / as %2F, # as %23 in it)");
    return QString();
}

bool PgLink::connect(const QString &url, QString *error)
{
    disconnect();
    secrets_.clear();
    *error = refusal(url);
    if (!error->isEmpty())
        return false;
    {
        PQconninfoOption *options = parsed(url);
        const QString written = written_password(url);
        for (const QString &secret : {QString::fromUtf8(option(options, "password")), written,
                                      QString::fromUtf8(QByteArray::fromPercentEncoding(written.toUtf8()))}) {
            // A password of a few letters would take words apart wherever
            // they hold them; the URL's own checks keep it out of messages.
            if (secret.size() >= 4 && !secrets_.contains(secret))
                secrets_ << secret;
        }
        PQconninfoFree(options);
    }
    const QByteArray target = url.toUtf8();
    std::vector<const char *> keys, values;
    for (size_t i = 0; i < sizeof default_keys / sizeof default_keys[0]; ++i) {
        // libpq's own variable for it still counts when the URL says nothing.
        if (qstrcmp(default_keys[i], "connect_timeout") == 0 && qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT"))
            continue;
        keys.push_back(default_keys[i]);
        values.push_back(default_values[i]);
    }
    keys.push_back("dbname");
    values.push_back(target.constData());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // The URL (the expanded dbname) overrides the defaults before it.
    conn_ = PQconnectStartParams(keys.data(), values.data(), 1);
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD) {
        *error = conn_ ? scrubbed(message_of(PQerrorMessage(conn_))) : QStringLiteral("out of memory");
        disconnect();
        return false;
    }
    PQsetNoticeProcessor(conn_, trace_notice, nullptr);
    // libpq leaves the bound to a caller that does not block: connect_timeout
    // as libpq reads it (at least 2 s), for the whole attempt.
    PQconninfoOption *in_use = PQconninfo(conn_);
    int timeout_s = option(in_use, "connect_timeout").toInt();
    PQconninfoFree(in_use);
    timeout_s = timeout_s <= 0 ? default_connect_timeout_s : qMax(timeout_s, 2);
    deadline_ms_ = now_ms() + timeout_s * 1000;
    deadline_words_ = QStringLiteral("%1 s (connect_timeout)").arg(timeout_s);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            *error = scrubbed(message_of(PQerrorMessage(conn_)));
            break;
        }
        if (!wait_ready(state == PGRES_POLLING_WRITING, error))
            break;
        state = PQconnectPoll(conn_);
    }
    deadline_ms_ = 0;
    if (state != PGRES_POLLING_OK || PQsetnonblocking(conn_, 1) != 0) {
        if (error->isEmpty())
            *error = scrubbed(message_of(PQerrorMessage(conn_)));
        disconnect();
        return false;
    }
    qCDebug(db_log) << "connected to" << describe(url);
    return true;
}

PgLink::Result PgLink::failed(Result result)
{
    if (result.error.isEmpty())
        result.error = conn_ ? scrubbed(message_of(PQerrorMessage(conn_))) : QStringLiteral("not connected");
    // Whatever the server still does with the statement, it does without
    // us: a transaction left open ends with the connection, uncommitted.
    disconnect();
    deadline_ms_ = 0;
    return result;
}

PgLink::Result PgLink::exec(const char *sql, const std::vector<QByteArray> &params)
{
    Result result;
    if (!conn_) {
        result.error = QStringLiteral("not connected");
        return result;
    }
    deadline_ms_ = now_ms() + statement_wait_ms_;
    deadline_words_ = QStringLiteral("%1 ms (a statement)").arg(statement_wait_ms_);
    std::vector<const char *> values;
    for (const QByteArray &p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    if (!PQsendQueryParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0))
        return failed(result);
    // A large batch may not fit the socket's buffer at once.
    for (int flushed; (flushed = PQflush(conn_)) != 0;) {
        if (flushed < 0 || !wait_ready(true, &result.error))
            return failed(result);
    }
    bool first = true;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!wait_ready(false, &result.error) || !PQconsumeInput(conn_))
                return failed(result);
        }
        PGresult *r = PQgetResult(conn_);
        if (!r)
            break;
        if (first) {
            first = false;
            const ExecStatusType status = PQresultStatus(r);
            result.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
            if (!result.ok) {
                result.error = scrubbed(message_of(PQresultErrorMessage(r)));
                const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
                result.sql_state = state ? QByteArray(state) : QByteArray();
            }
            result.affected = QByteArray(PQcmdTuples(r)).toLongLong();
            for (int row = 0; row < PQntuples(r); ++row) {
                result.rows.emplace_back();
                result.nulls.emplace_back();
                for (int c = 0; c < PQnfields(r); ++c) {
                    result.rows.back().emplace_back(PQgetvalue(r, row, c), PQgetlength(r, row, c));
                    result.nulls.back().push_back(PQgetisnull(r, row, c));
                }
            }
        }
        PQclear(r);
    }
    deadline_ms_ = 0;
    if (!result.ok && result.error.isEmpty())
        result.error = scrubbed(message_of(PQerrorMessage(conn_)));
    if (PQstatus(conn_) != CONNECTION_OK)
        disconnect();
    return result;
}

PgLink::Result PgLink::copy_out(const char *sql, const std::function<void(const char *, int)> &line)
{
    Result result;
    if (!conn_) {
        result.error = QStringLiteral("not connected");
        return result;
    }
    const auto heard = [this] {
        deadline_ms_ = now_ms() + statement_wait_ms_;
    };
    heard();
    deadline_words_ = QStringLiteral("%1 ms (a copy)").arg(statement_wait_ms_);
    if (!PQsendQuery(conn_, sql))
        return failed(result);
    for (int flushed; (flushed = PQflush(conn_)) != 0;) {
        if (flushed < 0 || !wait_ready(true, &result.error))
            return failed(result);
    }
    // The first result says whether the copy began; then the rows, each a
    // buffer of libpq's; then the statement's own end.
    bool copying = false;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!wait_ready(false, &result.error) || !PQconsumeInput(conn_))
                return failed(result);
        }
        PGresult *r = PQgetResult(conn_);
        if (!r)
            break;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_COPY_OUT) {
            copying = true;
        } else if (status != PGRES_COMMAND_OK) {
            result.error = scrubbed(message_of(PQresultErrorMessage(r)));
            const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
            result.sql_state = state ? QByteArray(state) : QByteArray();
            copying = false;
        }
        PQclear(r);
        while (status == PGRES_COPY_OUT) {
            char *buffer = nullptr;
            const int length = PQgetCopyData(conn_, &buffer, 1);
            if (length > 0) {
                line(buffer, length);
                PQfreemem(buffer);
                heard();
            } else if (length == 0) {
                if (!wait_ready(false, &result.error) || !PQconsumeInput(conn_))
                    return failed(result);
            } else {
                break;  // -1: the copy is done; -2: PQgetResult says why
            }
        }
    }
    deadline_ms_ = 0;
    result.ok = copying && result.error.isEmpty();
    if (!result.ok && result.error.isEmpty())
        result.error = scrubbed(message_of(PQerrorMessage(conn_)));
    if (PQstatus(conn_) != CONNECTION_OK)
        disconnect();
    return result;
}

QByteArray PgLink::literal(const QByteArray &value) const
{
    if (value.isNull())
        return QByteArrayLiteral("NULL");
    char *quoted = conn_ ? PQescapeLiteral(conn_, value.constData(), size_t(value.size())) : nullptr;
    if (!quoted)
        return QByteArray();
    const QByteArray out(quoted);
    PQfreemem(quoted);
    return out;
}

QString PgLink::describe(const QString &url)
{
    const QString refused = refusal(url);
    if (!refused.isEmpty())
        return QStringLiteral("(%1)").arg(refused.section(QStringLiteral(" ("), 0, 0));
    PQconninfoOption *options = parsed(url);
    QStringList parts;
    for (const char *key : {"service", "host", "hostaddr", "port", "dbname", "user"}) {
        const QByteArray value = option(options, key);
        if (!value.isEmpty())
            parts << QString::fromUtf8(key) + QLatin1Char('=') + QString::fromUtf8(value);
    }
    PQconninfoFree(options);
    return parts.isEmpty() ? QStringLiteral("(libpq's defaults)") : parts.join(QLatin1Char(' '));
}

QByteArray PgLink::text_array(const std::vector<QByteArray> &values)
{
    QByteArray array = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            array += ',';
        array += '"';
        for (const char c : values[i]) {
            if (c == '"' || c == '\\')
                array += '\\';
            array += c;
        }
        array += '"';
    }
    return array + '}';
}
