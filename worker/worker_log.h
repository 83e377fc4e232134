#pragma once

#include <QLoggingCategory>

// The serial link's trace: opens, writes, reads, port errors.
Q_DECLARE_LOGGING_CATEGORY(link_log)
// The worker thread's trace: its loop and the window's port requests.
Q_DECLARE_LOGGING_CATEGORY(worker_log)
