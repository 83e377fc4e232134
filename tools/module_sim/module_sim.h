#pragma once

#include "tools/module_sim/at_responder.h"
#include "tools/module_sim/output_queue.h"
#include "tools/module_sim/sim_options.h"
#include "tools/module_sim/xmodem_receiver.h"

#include <functional>
#include <memory>
#include <optional>

class PtyLine;

enum class SimExit { Stopped, Unplugged, LineFailed };

// What the signal handlers write to the stop pipe: a byte per signal.
constexpr char kStopNow = 1;     // SIGTERM, SIGINT
constexpr char kRestartNow = 2;  // SIGUSR1: the module restarts (a watchdog, a power dip)
constexpr char kPlugIn = 3;      // SIGUSR2: with --plug-in-on-signal, the module is plugged in

// The module's main loop: one thread, one poll over the line and the stop
// pipe, with every pause and timeout expressed as a deadline on the
// monotonic clock. Bytes go to the command interpreter, or to the image
// receiver while a download runs.
class ModuleSim
{
public:
    ModuleSim(const SimOptions &options, PtyLine &line);
    ~ModuleSim();

    // Runs until stop_fd carries kStopNow, the module unplugs itself, or the
    // line breaks; kRestartNow restarts it. An unplug closes the line before returning.
    SimExit run(int stop_fd);
    // Called when the port leaves the system (false) and when it is back
    // (true) around a restart: the device tree and the device events.
    void set_presence_handler(std::function<void(bool)> handler) { presence_ = std::move(handler); }

private:
    void dispatch(QByteArray bytes, SimTime now);
    void act(AfterOutput after, SimTime now);
    void end_transfer_if_done();
    enum class SignalAsk { Nothing, Restart, Stop };
    SignalAsk take_signals(int stop_fd);
    bool drained(SimTime since, SimTime now);
    void go_away(SimTime now);
    void come_back();

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
    std::optional<SimTime> unplug_from_;  // set while the device is about to vanish
    std::optional<SimTime> restart_from_; // ... or about to restart
    std::optional<SimTime> back_at_;      // set while it is away, restarting
    std::optional<SimTime> ready_at_;     // set while the port refuses to open
    bool drain_saw_unread_ = false;
    std::function<void(bool)> presence_;
};
