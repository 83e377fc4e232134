#pragma once

#include "cli/cli_messages.h"
#include "cli/command_line.h"

#include <QString>

#include <vector>

class QCommandLineParser;

struct CliOption
{
    const char *name;              // --name
    const char *value_name;        // nullptr: a switch
    const char *text;              // for the command's --help
    const char *default_value = nullptr;
};

// A command of kv20-cli: the one place its name, options and texts are
// written, for the dispatch, `kv20-cli --help` and `kv20-cli COMMAND --help`.
struct CliCommand
{
    const char *name;      // one word, or two: "db init"
    const char *synopsis;  // what follows the name on its usage line
    const char *summary;   // one line
    const char *help;      // what its --help tells besides; may be empty
    std::vector<CliOption> options;  // besides --trace and --help, which every command takes
    ExitCode (*run)(const CommandLine &line);
};

const std::vector<CliCommand> &cli_commands();

// The command's options, --trace and --help with them, as the parser reads
// them and its help lists them.
void add_command_options(const CliCommand &command, QCommandLineParser *parser);
