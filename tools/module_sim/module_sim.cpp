#include "tools/module_sim/module_sim.h"

#include "tools/module_sim/pty_line.h"
#include "tools/module_sim/sim_log.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

timespec to_timespec(SimClock::duration d)
{
    if (d < SimClock::duration::zero())
        d = SimClock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts {};
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

constexpr auto kDrainBound = std::chrono::milliseconds(500);
constexpr auto kDrainSettle = std::chrono::milliseconds(50);
constexpr auto kDrainStep = std::chrono::milliseconds(2);

void earliest(std::optional<SimTime> &acc, std::optional<SimTime> t)
{
    if (t && (!acc || *t < *acc))
        acc = t;
}

} // namespace

ModuleSim::ModuleSim(const SimOptions &options, PtyLine &line)
    : opt_(options), line_(line), at_(options.variant, options.values, options.faults, options.transfer.ack_with_c)
{
    if (options.not_ready_ms > 0) {
        line_.set_openable(false);
        ready_at_ = SimClock::now() + sim_ms(options.not_ready_ms);
    }
}

ModuleSim::~ModuleSim() = default;

void ModuleSim::dispatch(QByteArray bytes, SimTime now)
{
    while (!bytes.isEmpty()) {
        if (receiver_due_) {
            held_for_receiver_ += bytes;
            return;
        }
        if (!rx_) {
            const OutChunks reply = at_.feed(bytes);
            receiver_due_ = std::any_of(reply.begin(), reply.end(), [](const OutChunk &chunk) {
                return chunk.after == AfterOutput::StartTransfer || chunk.after == AfterOutput::StartTransferRequested;
            });
            out_.push(reply, now);
            return;
        }
        out_.push(rx_->feed(bytes, now), now);
        bytes = rx_->take_leftover();
        end_transfer_if_done();
    }
}

void ModuleSim::end_transfer_if_done()
{
    if (rx_ && rx_->finished())
        rx_.reset();
}

void ModuleSim::act(AfterOutput after, SimTime now)
{
    switch (after) {
    case AfterOutput::StartTransfer:
    case AfterOutput::StartTransferRequested:
        rx_ = std::make_unique<XmodemReceiver>(opt_.transfer);
        out_.push(rx_->start(now, after == AfterOutput::StartTransferRequested), now);
        receiver_due_ = false;
        if (!held_for_receiver_.isEmpty()) {
            QByteArray held;
            held.swap(held_for_receiver_);
            dispatch(held, now);
        }
        break;
    case AfterOutput::Unplug:
        unplug_from_ = now;
        drain_saw_unread_ = false;
        break;
    case AfterOutput::Restart:
        restart_from_ = now;
        drain_saw_unread_ = false;
        break;
    case AfterOutput::Nothing:
        break;
    }
}

bool ModuleSim::drained(SimTime since, SimTime now)
{
    // Bytes a real module sent before it went still reach the host, but
    // closing or flushing the pty throws away whatever the tool has not read.
    // So the module goes once the tool has read what is on the line, or after
    // a bound if it does not read. The kernel hands written bytes on to the
    // reading side a moment later, so "nothing unread" only counts once it
    // was seen non-empty or after a short settling time.
    const int unread = line_.unread_by_tool();
    drain_saw_unread_ = drain_saw_unread_ || unread > 0;
    const auto waited = now - since;
    return (unread == 0 && (drain_saw_unread_ || waited >= kDrainSettle)) || waited >= kDrainBound;
}

ModuleSim::SignalAsk ModuleSim::take_signals(int stop_fd)
{
    char asks[16];
    SignalAsk ask = SignalAsk::Nothing;
    for (ssize_t n; (n = ::read(stop_fd, asks, sizeof asks)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (asks[i] == kStopNow)
                ask = SignalAsk::Stop;
            else if (asks[i] == kRestartNow && ask == SignalAsk::Nothing)
                ask = SignalAsk::Restart;
        }
    }
    if (ask == SignalAsk::Restart && !back_at_ && !restart_from_ && !unplug_from_) {
        log_line(QStringLiteral("asked to restart"));
        go_away(SimClock::now());
    }
    return ask;
}

// A restart: the port leaves the system (no longer listed, opens fail) and
// the module hears nothing until it is back.
void ModuleSim::go_away(SimTime now)
{
    restart_from_.reset();
    const int away_ms = opt_.transfer.restart_after_download_ms >= 0 ? opt_.transfer.restart_after_download_ms : 1000;
    log_line(QStringLiteral("restarting: the port goes away for %1 ms").arg(away_ms));
    // A restarted module has forgotten any transfer and anything it had to say.
    rx_.reset();
    out_ = OutputQueue();
    receiver_due_ = false;
    held_for_receiver_.clear();
    line_.set_openable(false);
    if (presence_)
        presence_(false);
    back_at_ = now + sim_ms(away_ms);
}

void ModuleSim::come_back()
{
    back_at_.reset();
    line_.discard_pending();
    line_.set_openable(true);
    if (presence_)
        presence_(true);
    log_line(QStringLiteral("restarted: the port is back"));
}

SimExit ModuleSim::run(int stop_fd)
{
    for (;;) {
        SimTime now = SimClock::now();
        if (unplug_from_ && drained(*unplug_from_, now)) {
            log_line(QStringLiteral("unplugged: the port vanishes"));
            if (presence_)
                presence_(false);
            line_.close();
            return SimExit::Unplugged;
        }
        if (restart_from_ && drained(*restart_from_, now))
            go_away(now);
        if (back_at_ && now >= *back_at_)
            come_back();
        if (ready_at_ && now >= *ready_at_) {
            ready_at_.reset();
            line_.set_openable(true);
            log_line(QStringLiteral("the port opens now"));
        }
        if (unplug_from_ || restart_from_ || back_at_) {
            // Only the stop signal matters now; the line is going away.
            pollfd stop {stop_fd, POLLIN, 0};
            const timespec ts = to_timespec(back_at_ ? *back_at_ - now : SimClock::duration(kDrainStep));
            if (ppoll(&stop, 1, &ts, nullptr) > 0 && take_signals(stop_fd) == SignalAsk::Stop)
                return SimExit::Stopped;
            continue;
        }
        const QByteArray arrived = line_.take_arrived(now);
        if (!arrived.isEmpty())
            dispatch(arrived, now);
        if (rx_) {
            out_.push(rx_->tick(now), now);
            const QByteArray leftover = rx_->take_leftover();
            end_transfer_if_done();
            if (!leftover.isEmpty())
                dispatch(leftover, now);
        }
        for (;;) {
            bool failed = false;
            const AfterOutput after = out_.pump(line_, now, failed);
            if (failed) {
                log_error(QStringLiteral("writing to the pty failed"));
                return SimExit::LineFailed;
            }
            if (after == AfterOutput::Nothing)
                break;
            act(after, now);
            if (unplug_from_ || restart_from_)
                break;
        }
        if (unplug_from_ || restart_from_)
            continue;

        std::optional<SimTime> wake = ready_at_;
        if (rx_)
            earliest(wake, rx_->deadline());
        earliest(wake, out_.next_wakeup(line_, now));
        earliest(wake, line_.next_arrival());
        short events = line_.wants_input() ? POLLIN : 0;
        if (out_.waiting_for_room(line_, now))
            events |= POLLOUT;

        pollfd fds[2] = {{stop_fd, POLLIN, 0}, {line_.master_fd(), events, 0}};
        timespec ts {};
        if (wake)
            ts = to_timespec(*wake - now);
        const int r = ppoll(fds, 2, wake ? &ts : nullptr, nullptr);
        if (r < 0 && errno != EINTR) {
            log_error(QStringLiteral("poll failed"));
            return SimExit::LineFailed;
        }
        if (r <= 0)
            continue;
        if (fds[0].revents && take_signals(stop_fd) == SignalAsk::Stop)
            return SimExit::Stopped;
        if (fds[0].revents)
            continue;
        if (fds[1].revents & POLLIN) {
            bool failed = false;
            line_.pull(SimClock::now(), failed);
            if (failed) {
                log_error(QStringLiteral("reading from the pty failed"));
                return SimExit::LineFailed;
            }
        } else if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Cannot happen while our own slave end is open; if it does,
            // polling on would spin.
            log_error(QStringLiteral("the pty reported a hang-up"));
            return SimExit::LineFailed;
        }
    }
}
