#include "worker/worker_log.h"

Q_LOGGING_CATEGORY(link_log, "kv20.link")
Q_LOGGING_CATEGORY(worker_log, "kv20.worker")
