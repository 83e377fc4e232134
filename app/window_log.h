#pragma once

#include <QLoggingCategory>

// What the window shows (status line, device fields, enabled controls), its
// settings file and the device changes it handles. On, like every layer's
// category in the window; QT_LOGGING_RULES="kv20.window.debug=false" hides it.
Q_DECLARE_LOGGING_CATEGORY(window_log)
