#pragma once

#include "tools/module_sim/output_queue.h"
#include "tools/module_sim/sim_options.h"

#include <QByteArray>

// The module's AT command interpreter: assembles command lines from the
// incoming bytes and answers each one, applying the configured reply faults.
class AtResponder
{
public:
    AtResponder(Variant variant, const ModuleValues &values, const ReplyFaults &faults, bool ack_with_c);

    // Bytes from the line; returns what to send back, in order.
    OutChunks feed(const QByteArray &bytes);

private:
    enum class Kind { Value, Plain, Error, Download };
    struct Reply
    {
        Kind kind = Kind::Error;
        QByteArray value;
    };

    Reply lookup(const QByteArray &command) const;
    bool fault_applies(const QByteArray &command, Kind kind);
    OutChunks answer(const QByteArray &command);
    QByteArray noise(int count);

    Variant variant_;
    ModuleValues values_;
    ReplyFaults faults_;
    bool ack_with_c_;
    QByteArray line_;
    bool overlong_ = false;
    int faulted_ = 0;
    quint32 noise_state_ = 0x4b563230u;
};
