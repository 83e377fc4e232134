#pragma once

#include <QLoggingCategory>

// The transmitter's trace: sync, every block sent and its answer, EOT.
Q_DECLARE_LOGGING_CATEGORY(xmodem_log)
