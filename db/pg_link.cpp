#include "db/pg_link.h"

#include "db/db_log.h"

#include <QDateTime>
#include <QStringList>

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
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

// Waits up to `ms` for the socket; true when it is ready or the wait ran out
// (the caller polls libpq either way), false on a socket error.
bool poll_socket(int socket, bool for_write, int ms)
{
#ifdef _WIN32
    WSAPOLLFD entry {};
    entry.fd = SOCKET(socket);
    entry.events = for_write ? POLLWRNORM : POLLRDNORM;
    return WSAPoll(&entry, 1, ms) >= 0;
#else
    struct pollfd entry {socket, short(for_write ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&entry, 1, ms);
    return n >= 0 || errno == EINTR;
#endif
}

// The server's notices ("relation already exists, skipping") are for the
// trace, not for the operator.
void trace_notice(void *, const char *message)
{
    qCDebug(db_log) << "server notice:" << message_of(message);
}

} // namespace

PgLink::PgLink(GiveUp give_up)
    : give_up_(std::move(give_up))
{
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

bool PgLink::expired() const
{
    return (deadline_ms_ > 0 && now_ms() >= deadline_ms_) || (give_up_ && give_up_());
}

bool PgLink::wait_socket(bool for_write, QString *error)
{
    for (;;) {
        if (expired()) {
            *error = QStringLiteral("gave up waiting for the server");
            return false;
        }
        const int socket = PQsocket(conn_);
        if (socket < 0) {
            *error = message_of(PQerrorMessage(conn_));
            return false;
        }
        if (!poll_socket(socket, for_write, 100)) {
            *error = QStringLiteral("the connection's socket failed");
            return false;
        }
        return true;
    }
}

bool PgLink::connect(const QString &url, QString *error)
{
    disconnect();
    const QByteArray target = url.toUtf8();
    // Defaults first: anything the URL names wins over them.
    const char *keys[] = {"application_name", "client_encoding", "dbname", nullptr};
    const char *values[] = {"kv20", "UTF8", target.constData(), nullptr};
    conn_ = PQconnectStartParams(keys, values, 1);
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD) {
        *error = conn_ ? message_of(PQerrorMessage(conn_)) : QStringLiteral("out of memory");
        disconnect();
        return false;
    }
    PQsetNoticeProcessor(conn_, trace_notice, nullptr);
    deadline_ms_ = now_ms() + connect_wait_ms;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            *error = message_of(PQerrorMessage(conn_));
            break;
        }
        if (!wait_socket(state == PGRES_POLLING_WRITING, error))
            break;
        state = PQconnectPoll(conn_);
    }
    deadline_ms_ = 0;
    if (state != PGRES_POLLING_OK || PQsetnonblocking(conn_, 1) != 0) {
        if (error->isEmpty())
            *error = message_of(PQerrorMessage(conn_));
        disconnect();
        return false;
    }
    qCDebug(db_log) << "connected to" << describe(url);
    return true;
}

PgLink::Result PgLink::exec(const char *sql, const std::vector<QByteArray> &params)
{
    Result result;
    if (!conn_) {
        result.error = QStringLiteral("not connected");
        return result;
    }
    std::vector<const char *> values;
    for (const QByteArray &p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    if (!PQsendQueryParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0)) {
        result.error = message_of(PQerrorMessage(conn_));
        return result;
    }
    // A large batch may not fit the socket's buffer at once.
    for (;;) {
        const int flushed = PQflush(conn_);
        if (flushed == 0)
            break;
        if (flushed < 0 || !wait_socket(true, &result.error)) {
            if (result.error.isEmpty())
                result.error = message_of(PQerrorMessage(conn_));
            disconnect();
            return result;
        }
    }
    bool first = true;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!wait_socket(false, &result.error) || !PQconsumeInput(conn_)) {
                if (result.error.isEmpty())
                    result.error = message_of(PQerrorMessage(conn_));
                // Whatever the server still does with the statement, it does
                // without us: a transaction left open ends with the
                // connection, uncommitted.
                disconnect();
                return result;
            }
        }
        PGresult *r = PQgetResult(conn_);
        if (!r)
            break;
        if (first) {
            first = false;
            const ExecStatusType status = PQresultStatus(r);
            result.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
            if (!result.ok) {
                result.error = message_of(PQresultErrorMessage(r));
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
    if (!result.ok && result.error.isEmpty())
        result.error = message_of(PQerrorMessage(conn_));
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
    const auto fail = [&] {
        if (result.error.isEmpty())
            result.error = message_of(PQerrorMessage(conn_));
        disconnect();
        return result;
    };
    if (!PQsendQuery(conn_, sql))
        return fail();
    while (PQflush(conn_) != 0)
        if (!wait_socket(true, &result.error))
            return fail();
    // The first result says whether the copy began; then the rows, each a
    // buffer of libpq's; then the statement's own end.
    bool copying = false;
    for (;;) {
        while (PQisBusy(conn_))
            if (!wait_socket(false, &result.error) || !PQconsumeInput(conn_))
                return fail();
        PGresult *r = PQgetResult(conn_);
        if (!r)
            break;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_COPY_OUT) {
            copying = true;
        } else if (status != PGRES_COMMAND_OK) {
            result.error = message_of(PQresultErrorMessage(r));
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
            } else if (length == 0) {
                if (!wait_socket(false, &result.error) || !PQconsumeInput(conn_))
                    return fail();
            } else {
                break;  // -1: the copy is done; -2: PQgetResult says why
            }
        }
    }
    result.ok = copying && result.error.isEmpty();
    if (!result.ok && result.error.isEmpty())
        result.error = message_of(PQerrorMessage(conn_));
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
    char *why = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), &why);
    if (!options) {
        PQfreemem(why);
        return QStringLiteral("(a connection URL libpq cannot read)");
    }
    QStringList parts;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        const QByteArray key(o->keyword);
        if (o->val && *o->val && (key == "host" || key == "hostaddr" || key == "port" || key == "dbname" || key == "user"))
            parts << QString::fromUtf8(key) + QLatin1Char('=') + QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    return parts.isEmpty() ? QStringLiteral("(libpq's defaults)") : parts.join(QLatin1Char(' '));
}

bool PgLink::readable(const QString &url)
{
    char *why = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), &why);
    PQfreemem(why);
    const bool read = options != nullptr;
    PQconninfoFree(options);
    return read;
}
