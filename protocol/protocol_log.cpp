#include "protocol/protocol_log.h"

Q_LOGGING_CATEGORY(protocol_log, "kv20.protocol")
