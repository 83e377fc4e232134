#pragma once

#include "cli/cli_messages.h"
#include "cli/command_line.h"

// kv20-cli list: the module ports discovery finds.
ExitCode run_list_command(const CommandLine &line);
// kv20-cli query | audio IMAGE | firmware IMAGE: one operation on each module
// named or found, all at once.
ExitCode run_operation_command(const CommandLine &line);
// kv20-cli watch: line mode, until a signal or a lost output ends it.
ExitCode run_watch_command(const CommandLine &line);
