#pragma once

#include <QLoggingCategory>

// The database layer's trace: connections, batches, positions (kv20.db).
Q_DECLARE_LOGGING_CATEGORY(db_log)
