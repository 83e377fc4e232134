#pragma once

#include "tools/module_sim/at_responder.h"
#include "tools/module_sim/output_queue.h"
#include "tools/module_sim/sim_options.h"
#include "tools/module_sim/xmodem_receiver.h"

#include <memory>
#include <optional>

class PtyLine;

enum class SimExit { Stopped, Unplugged, LineFailed };

// The module's main loop: one thread, one poll over the line and the stop
// pipe, with every pause and timeout expressed as a deadline on the
// monotonic clock. Bytes go to the command interpreter, or to the image
// receiver while a download runs.
class ModuleSim
{
public:
    ModuleSim(const SimOptions &options, PtyLine &line);
    ~ModuleSim();

    // Runs until stop_fd becomes readable, the module unplugs itself, or the
    // line breaks. An unplug closes the line before returning.
    SimExit run(int stop_fd);

private:
    void dispatch(QByteArray bytes, SimTime now);
    void act(AfterOutput after, SimTime now);
    void end_transfer_if_done();
    bool unplug_due(SimTime now);

    const SimOptions &opt_;
    PtyLine &line_;
    AtResponder at_;
    OutputQueue out_;
    std::unique_ptr<XmodemReceiver> rx_;
    // A download command was taken and its acknowledgement is still on its
    // way: the module is receiving already, so what arrives meanwhile is
    // for the receiver (a sender's CAN, say), handed to it when it starts.
    bool receiver_due_ = false;
    QByteArray held_for_receiver_;
    std::optional<SimTime> unplug_from_; // set while the device is about to vanish
    bool unplug_saw_unread_ = false;
};
