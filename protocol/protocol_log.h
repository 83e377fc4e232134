#pragma once

#include <QLoggingCategory>

// The conversations' trace: each query's reply and value, the image opened,
// the download command's acknowledgement.
Q_DECLARE_LOGGING_CATEGORY(protocol_log)
