#pragma once

#include <QStringList>

// kv20-cli report JOURNAL... [--from TIME] [--to TIME] [--station NAME]... [--html FILE] [--json]
// kv20-cli report --db URL [--from TIME] [--to TIME] [--station NAME]... [--html FILE] [--json]
//
// `arguments` as the program got them (the program, "report", then the
// rest). Prints the summary, the JSON or writes the page; returns the exit
// status: 0, 1 when no record falls in the range or the database cannot be
// read, 2 for a usage error or a
// file that cannot be read as a journal.
int run_report_command(const QStringList &arguments);
