#include "app/window_log.h"

Q_LOGGING_CATEGORY(window_log, "kv20.window")
