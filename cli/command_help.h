#pragma once

#include <QString>

struct CliCommand;

// kv20-cli --help: every command of the table with its usage and summary.
QString overview_help();
// kv20-cli COMMAND --help.
QString command_help(const CliCommand &command);
