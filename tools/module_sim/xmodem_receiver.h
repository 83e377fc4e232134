#pragma once

#include "tools/module_sim/output_queue.h"
#include "tools/module_sim/sim_clock.h"
#include "tools/module_sim/sim_options.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The module's XMODEM receiver for one download: asks for the transfer (C for
// CRC-16, NAK for the 8-bit sum), takes STX frames of 1024 and SOH frames of
// 128 (or 256) data bytes in any chunking, answers each, stores the image and
// hands control back to the command interpreter when the transfer ends.
class XmodemReceiver
{
public:
    explicit XmodemReceiver(const TransferOptions &options);

    // request_sent: the acknowledgement already carried the first request.
    OutChunks start(SimTime now, bool request_sent);
    OutChunks feed(const QByteArray &bytes, SimTime now);
    // Runs the timers: request repeats, stalled frames, a vanished sender.
    OutChunks tick(SimTime now);
    std::optional<SimTime> deadline() const;

    bool finished() const { return state_ == State::Done; }
    // Bytes that arrived after the transfer ended; they belong to the command
    // interpreter.
    QByteArray take_leftover();

private:
    enum class State { Asking, Receiving, Ending, Done };

    OutChunks on_frame(SimTime now);
    OutChunks on_eot(SimTime now);
    OutChunks cancel();
    void finish(const QString &why);
    char request_byte() const;
    int frame_size(char header) const;
    void store_image();

    TransferOptions opt_;
    State state_ = State::Asking;
    bool silent_ = false;

    int requests_ = 0;
    SimTime next_request_ {};
    SimTime last_rx_ {};
    SimTime idle_mark_ {};
    int idle_timeouts_ = 0;

    QByteArray frame_;
    int frame_size_ = 0; // 0: between frames
    int cans_ = 0;
    bool stray_a_ = false;

    int blocks_ = 0; // distinct blocks stored
    quint8 last_number_ = 0;
    QByteArray image_;
    int naks_given_ = 0;
    int eot_faults_ = 0;
    bool saved_ = false;

    QByteArray leftover_;
};
