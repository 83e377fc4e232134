#pragma once

#include <QString>

// --trace VALUE: a comma-separated list of layers (link, worker, protocol,
// xmodem, discovery, journal) or "all". Sets *rules to the logging rules it
// asks for: every layer's trace off, the named ones on. False, with *error,
// for a layer that does not exist.
bool trace_rules(const QString &value, QString *rules, QString *error);
// "link, worker, ...": the layers, for the help.
QString trace_layer_names();

// Sets the rules and sends the program's messages to standard error. Rules
// from QT_LOGGING_RULES (or QT_LOGGING_CONF) still come after these, as Qt
// documents.
void apply_trace_rules(const QString &rules);
