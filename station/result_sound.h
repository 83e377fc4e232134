#pragma once

// An audible signal for a result, a pass and a fail told apart by ear: the
// operator's hands and eyes are on the next module. On Windows the system's
// own sounds; elsewhere the bell, once for a pass, three times for a fail.
void play_result_sound(bool pass);
