#pragma once

#include <QtGlobal>

// A bound in milliseconds that the environment may set (tests shorten or
// lengthen the waits the tool runs with): `name`'s value when it is a
// positive whole number, else `otherwise`.
inline int wait_from_environment(const char *name, int otherwise)
{
    bool set = false;
    const int ms = qEnvironmentVariableIntValue(name, &set);
    return set && ms > 0 ? ms : otherwise;
}
