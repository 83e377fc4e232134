#pragma once

#include <QLoggingCategory>

// What the window shows (status line, device fields, enabled controls), for
// whoever watches the tool from outside. Off unless switched on, e.g. with
// QT_LOGGING_RULES="kv20.window.debug=true".
Q_DECLARE_LOGGING_CATEGORY(window_log)
