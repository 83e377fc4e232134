#pragma once

#include <QLoggingCategory>

// The port walk's trace (every interface seen, every match) and the
// device-change source's warnings.
Q_DECLARE_LOGGING_CATEGORY(discovery_log)
