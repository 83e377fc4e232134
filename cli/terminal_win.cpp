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
