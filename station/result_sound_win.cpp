#include "station/result_sound.h"

#include <windows.h>

void play_result_sound(bool pass)
{
    MessageBeep(pass ? MB_OK : MB_ICONHAND);
}
