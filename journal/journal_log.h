#pragma once

#include <QLoggingCategory>

// Where each record went and how long the append took.
Q_DECLARE_LOGGING_CATEGORY(journal_log)
