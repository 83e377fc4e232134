#include "db/db_log.h"

Q_LOGGING_CATEGORY(db_log, "kv20.db")
