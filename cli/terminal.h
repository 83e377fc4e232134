#pragma once

// Whether standard output is a terminal that can redraw lines in place. On
// Windows this also switches the console to understand the redraw sequences.
bool stdout_is_terminal();

// Writes to a pipe whose reader has gone fail instead of ending the process
// (SIGPIPE ignored; Windows has no such signal).
void ignore_broken_pipe();
// Whether standard output or standard error is a pipe whose reader has gone
// (or a terminal that hung up): noticed without writing to it.
bool output_closed();
