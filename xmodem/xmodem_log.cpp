#include "xmodem/xmodem_log.h"

Q_LOGGING_CATEGORY(xmodem_log, "kv20.xmodem")
