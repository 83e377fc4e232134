#include "resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE / Q_CLEANUP_RESOURCE must be used outside any namespace;
// the name is the base name of kv20.qrc.

void kv20_register_resources()
{
    Q_INIT_RESOURCE(kv20);
}

void kv20_unregister_resources()
{
    Q_CLEANUP_RESOURCE(kv20);
}
