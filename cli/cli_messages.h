#pragma once

#include <QString>

#include <cstdio>

// The exit statuses every command of kv20-cli shares. 141: the output went
// away (128 + SIGPIPE), also where the platform has no such signal. A run
// that a signal ends exits with 128 + its number, as InterruptWatcher tells.
enum ExitCode {
    all_ok = 0,
    failed = 1,
    usage = 2,
    journal_failed = 3,
    after_sighup = 129,
    after_sigint = 130,
    output_gone = 141,
    after_sigterm = 143,
};

// One line through the one output path (write_out), so that a lost output is
// noticed wherever it happens.
void say(const QString &line, FILE *stream = stdout);
// "kv20-cli: ..." on standard error. A complaint may quote a port's name, an
// argument or a record as it came: shown as text, never as control bytes.
void complain(const QString &line);
