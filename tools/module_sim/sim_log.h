#pragma once

#include <QByteArray>
#include <QString>

// One line per event on stderr, prefixed with the seconds since start, so an
// operator (or a test) can follow the conversation as the module saw it.
void log_set_quiet(bool quiet);
void log_line(const QString &text);  // silenced by --quiet
void log_error(const QString &text); // always shown

// Bytes as readable text: printable ASCII as is, everything else escaped
// (\r, \n, \0, \xNN); long runs are cut after max_chars with "...".
QString printable(const QByteArray &bytes, int max_chars = 80);
