#include "cli/terminal.h"

#include <windows.h>

bool stdout_is_terminal()
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode))
        return false;
    // Without virtual terminal processing the cursor sequences would show as
    // text; such a console gets the plain lines instead.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void ignore_broken_pipe()
{
    // A write to a pipe without a reader fails with ERROR_NO_DATA already.
}

bool output_closed()
{
    // The writing end of an anonymous pipe cannot be asked about its reader
    // (PeekNamedPipe needs read access): a reader that went is noticed at
    // the next write.
    return false;
}
