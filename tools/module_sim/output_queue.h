#pragma once

#include "tools/module_sim/sim_clock.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <optional>

class PtyLine;

// What happens once a piece of output has gone onto the line.
enum class AfterOutput {
    Nothing,
    StartTransfer,          // the download acknowledgement is out: become a receiver
    StartTransferRequested, // ... and it already carried the receiver's request
    Unplug,                 // the device vanishes
    Restart,                // the device goes away and comes back, as after an update
};

// A piece of output: sent delay_ms after the previous piece went out
// completely (or after it was queued, when the line was idle).
struct OutChunk
{
    int delay_ms = 0;
    QByteArray bytes;
    AfterOutput after = AfterOutput::Nothing;
};
using OutChunks = QList<OutChunk>;

// Everything the module still has to say, in order, with the pauses between
// the pieces. Pieces are written as fast as the (possibly paced) line takes
// them.
class OutputQueue
{
public:
    void push(const OutChunks &chunks, SimTime now);
    bool empty() const { return queue_.empty(); }

    // Writes what is due. Stops after the first piece that carries an action
    // and returns that action, so the caller acts on it before anything that
    // follows goes out. Returns Nothing when it wrote what it could.
    AfterOutput pump(PtyLine &line, SimTime now, bool &line_failed);

    // When pump has work again (pacing or a pause), if it has any that does
    // not just wait for room in the pty buffer.
    std::optional<SimTime> next_wakeup(PtyLine &line, SimTime now) const;
    bool waiting_for_room(const PtyLine &line, SimTime now) const;

private:
    struct Pending
    {
        OutChunk chunk;
        std::optional<SimTime> due; // set once the piece before it is out
        qint64 written = 0;
    };
    std::deque<Pending> queue_;
};
