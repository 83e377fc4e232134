#include "journal/journal_log.h"

Q_LOGGING_CATEGORY(journal_log, "kv20.journal")
