#include "db/batch_commit.h"

#include "db/pg_link.h"

bool commit_batch(PgLink *link, const char *insert, const std::vector<QByteArray> &parameters,
                  const std::function<void(bool)> &sending, qint64 *inserted, QString *error,
                  const std::function<void()> &before_commit)
{
    if (sending)
        sending(true);
    PgLink::Result r = link->exec("BEGIN");
    PgLink::Result added;
    if (r.ok)
        r = added = link->exec(insert, parameters);
    if (before_commit)
        before_commit();
    if (r.ok)
        r = link->exec("COMMIT");
    if (sending)
        sending(false);
    if (!r.ok) {
        *error = r.error;
        if (link->connected())
            link->exec("ROLLBACK");
        return false;
    }
    *inserted = added.affected;
    return true;
}
