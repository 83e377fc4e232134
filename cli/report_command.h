#pragma once

#include "cli/cli_messages.h"
#include "cli/command_line.h"

// kv20-cli report JOURNAL... | --db URL [--from TIME] [--to TIME] [--station NAME]... [--html FILE] [--json]
//
// Prints the summary, the JSON or writes the page. all_ok; failed when no
// record falls in the range or the database cannot be read; usage for a
// usage error, a file that cannot be read as a journal or a page that cannot
// be written.
ExitCode run_report_command(const CommandLine &line);
