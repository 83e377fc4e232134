#pragma once

#include <QByteArray>
#include <QtGlobal>

// The blocking byte operations every conversation with the module is built on.
// SerialLink implements them over a real serial port; the protocol code and
// the XMODEM transmitter see only this interface, so they can also be driven
// by a scripted peer (fuzzing) without a line.
class ModuleLink
{
public:
    virtual ~ModuleLink() = default;

    // Writes all bytes in one write and flushes; traces "write len:".
    virtual void write_data(const QByteArray &data) = 0;
    // As write_data for one byte, without the "write len:" trace.
    virtual void write_byte(char byte) = 0;
    // False after timeout_ms of silence; true once data started to arrive and
    // the line then stayed quiet for 3 ms.
    virtual bool wait_for_data(unsigned long timeout_ms) = 0;
    // True when one data-arrival notification came within timeout_ms.
    virtual bool wait_once(unsigned long timeout_ms) = 0;
    // Every byte buffered so far, removed from the buffer.
    virtual QByteArray read_all() = 0;
    // Reads and drops every buffered byte.
    virtual void discard_input() = 0;
    // First byte of one read as a signed value, or -1 when nothing came within
    // timeout_ms. Further bytes of that read are dropped.
    virtual qint8 read_byte(quint16 timeout_ms) = 0;
    // True once the operator asked to abandon the running operation. Waits
    // then return at once while writes still reach the module, so that a
    // transfer can be cancelled on the wire instead of left hanging.
    virtual bool cancel_requested() const { return false; }
};
