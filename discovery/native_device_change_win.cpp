#include "discovery/native_device_change.h"

#include "discovery/com_port_walk_win.h"

#include <windows.h>

bool decode_native_device_change(const QByteArray &event_type, void *message, quint32 *event_code,
                                 bool *volume_with_zero_flags)
{
    // Qt hands the window MSG records under these two names; anything else
    // is not a Windows message.
    if (!message || (event_type != "windows_generic_MSG" && event_type != "windows_dispatcher_MSG"))
        return false;
    const MSG *msg = static_cast<const MSG *>(message);
    std::uint32_t code = 0;
    bool volume = false;
    if (!kv20::decode_device_change_message(msg->message, msg->wParam, msg->lParam, &code, &volume))
        return false;
    *event_code = code;
    *volume_with_zero_flags = volume;
    return true;
}
