#include "station/result_sound.h"

#include <QApplication>
#include <QTimer>

void play_result_sound(bool pass)
{
    QApplication::beep();
    if (pass)
        return;
    // Apart enough to be heard as three, short enough to end before the
    // next module's result.
    for (int n = 1; n < 3; ++n)
        QTimer::singleShot(n * 180, [] { QApplication::beep(); });
}
