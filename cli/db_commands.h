#pragma once

#include "cli/cli_messages.h"
#include "cli/command_line.h"

// kv20-cli db init --db URL: creates or updates the database's schema.
// failed when the database refused or cannot be reached.
ExitCode run_db_init_command(const CommandLine &line);

// kv20-cli upload --db URL [JOURNAL...]: sends every record the database
// does not have yet. failed when one is not in the database afterwards (the
// database cannot be reached or refused, a row is unreadable).
ExitCode run_upload_command(const CommandLine &line);
