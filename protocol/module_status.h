#pragma once

#include <QCoreApplication>

// The status line's words from the conversations with a module. Looked up
// each time they are shown, on the worker's thread, so that the catalogue
// the program installed at start-up (qt_en) gives the English form; without
// one they stay the Chinese the operators know.
class ModuleStatus
{
    Q_DECLARE_TR_FUNCTIONS(ModuleStatus)
};
