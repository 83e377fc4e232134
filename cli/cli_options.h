#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the command line asked for. parse_cli_options() fills it or explains
// the usage error in one line.
struct CliOptions
{
    enum Command { list, query, audio, firmware };
    Command command = list;
    // watch: line mode, serving `command` on every module that appears.
    bool watch = false;
    int rescan_ms = 2000;   // --rescan-ms
    QString image;          // audio and firmware
    QStringList ports;      // --port, in the order given
    bool all = false;       // --all
    bool cellular = true;   // --variant
    bool json = false;      // --json
    QString trace_rules;    // the logging rules --trace asks for
    QString db_url;         // watch --db: where records are uploaded as well

    // The worker's operation type for query, audio or firmware.
    quint8 operation_type() const;
};

enum class ParseResult { run, help_shown, usage_error };

// Help goes to standard output, a usage error's one line to *error.
ParseResult parse_cli_options(const QStringList &arguments, CliOptions *options, QString *error);

// kv20-cli report --help.
extern const char report_help[];
