#pragma once

// Whether standard output is a terminal that can redraw lines in place. On
// Windows this also switches the console to understand the redraw sequences.
bool stdout_is_terminal();
