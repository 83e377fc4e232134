#pragma once

#include "cli/command_line.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the command line asked of the modules, read from the options the
// command table gives query, audio, firmware and watch.
struct CliOptions
{
    enum Command { query, audio, firmware };
    Command command = query;
    // watch: line mode, serving `command` on every module that appears.
    bool watch = false;
    int rescan_ms = 2000;   // --rescan-ms
    QString image;          // audio and firmware
    QStringList ports;      // --port, in the order given
    bool all = false;       // --all
    bool cellular = true;   // --variant
    bool json = false;      // --json
    QString db_url;         // watch --db: where records are uploaded as well
    QString operator_id;    // --operator: who serves the modules, into every record
    QString work_order;     // --work-order
    QString again = QStringLiteral("allow");  // watch --again

    // The worker's operation type for query, audio or firmware.
    quint8 operation_type() const;
};

// query | audio IMAGE | firmware IMAGE; false with the usage error in *error.
bool read_operation_options(const CommandLine &line, CliOptions *options, QString *error);
// watch query | watch audio IMAGE | watch firmware IMAGE.
bool read_watch_options(const CommandLine &line, CliOptions *options, QString *error);
