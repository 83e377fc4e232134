#include "discovery/discovery_log.h"

Q_LOGGING_CATEGORY(discovery_log, "kv20.discovery")
