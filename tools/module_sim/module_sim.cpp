#include "tools/module_sim/module_sim.h"

#include "tools/module_sim/pty_line.h"
#include "tools/module_sim/sim_log.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

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

constexpr auto kUnplugDrainBound = std::chrono::milliseconds(500);
constexpr auto kUnplugSettle = std::chrono::milliseconds(50);
constexpr auto kUnplugDrainStep = std::chrono::milliseconds(2);

void earliest(std::optional<SimTime> &acc, std::optional<SimTime> t)
{
    if (t && (!acc || *t < *acc))
        acc = t;
}

} // namespace

ModuleSim::ModuleSim(const SimOptions &options, PtyLine &line)
    : opt_(options), line_(line), at_(options.variant, options.values, options.faults, options.transfer.ack_with_c)
{
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
        unplug_saw_unread_ = false;
        break;
    case AfterOutput::Nothing:
        break;
    }
}

bool ModuleSim::unplug_due(SimTime now)
{
    // Bytes a real module sent before it was pulled still reach the host,
    // but closing the pty master throws away whatever the tool has not read.
    // So the line closes once the tool has read what is on it, or after a
    // bound if it does not read. The kernel hands written bytes on to the
    // reading side a moment later, so "nothing unread" only counts once it
    // was seen non-empty or after a short settling time.
    const int unread = line_.unread_by_tool();
    unplug_saw_unread_ = unplug_saw_unread_ || unread > 0;
    const auto waited = now - *unplug_from_;
    const bool drained = unread == 0 && (unplug_saw_unread_ || waited >= kUnplugSettle);
    if (!drained && waited < kUnplugDrainBound)
        return false;
    log_line(QStringLiteral("unplugged: the port vanishes"));
    line_.close();
    return true;
}

SimExit ModuleSim::run(int stop_fd)
{
    for (;;) {
        SimTime now = SimClock::now();
        if (unplug_from_) {
            if (unplug_due(now))
                return SimExit::Unplugged;
            // Only the stop signal matters now; the line is going away.
            pollfd stop {stop_fd, POLLIN, 0};
            const timespec ts = to_timespec(kUnplugDrainStep);
            if (ppoll(&stop, 1, &ts, nullptr) > 0)
                return SimExit::Stopped;
            continue;
        }
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
            if (unplug_from_)
                break;
        }
        if (unplug_from_)
            continue;

        std::optional<SimTime> wake;
        if (rx_)
            earliest(wake, rx_->deadline());
        earliest(wake, out_.next_wakeup(line_, now));
        short events = 0;
        if (line_.read_allowed(now))
            events |= POLLIN;
        else
            earliest(wake, now + line_.read_wait(now));
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
        if (fds[0].revents)
            return SimExit::Stopped;
        if (fds[1].revents & POLLIN) {
            now = SimClock::now();
            bool failed = false;
            const QByteArray bytes = line_.read(now, failed);
            if (failed) {
                log_error(QStringLiteral("reading from the pty failed"));
                return SimExit::LineFailed;
            }
            dispatch(bytes, now);
        } else if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Cannot happen while our own slave end is open; if it does,
            // polling on would spin.
            log_error(QStringLiteral("the pty reported a hang-up"));
            return SimExit::LineFailed;
        }
    }
}
