#ifndef KV20_RESOURCES_H
#define KV20_RESOURCES_H

// The picture bundle kv20.qrc is compiled into the static library kv20_form.
// A resource compiled into a static library is not registered by itself:
// the program calls kv20_register_resources() once at start-up and
// kv20_unregister_resources() when it ends.
// Afterwards ":/kv20/image/logo.jpg" and ":/kv20/image/zizaro.jpg" resolve.

void kv20_register_resources();
void kv20_unregister_resources();

#endif // KV20_RESOURCES_H
