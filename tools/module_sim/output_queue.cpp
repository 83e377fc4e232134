#include "tools/module_sim/output_queue.h"

#include "tools/module_sim/pty_line.h"

void OutputQueue::push(const OutChunks &chunks, SimTime now)
{
    for (const OutChunk &c : chunks) {
        Pending p {c, std::nullopt, 0};
        if (queue_.empty())
            p.due = now + sim_ms(c.delay_ms);
        queue_.push_back(p);
    }
}

AfterOutput OutputQueue::pump(PtyLine &line, SimTime now, bool &line_failed)
{
    line_failed = false;
    while (!queue_.empty()) {
        Pending &head = queue_.front();
        if (!head.due)
            head.due = now + sim_ms(head.chunk.delay_ms);
        if (now < *head.due)
            return AfterOutput::Nothing;
        const qint64 left = head.chunk.bytes.size() - head.written;
        if (left > 0) {
            const qint64 n = line.write(head.chunk.bytes.constData() + head.written, left, now);
            if (n < 0) {
                line_failed = true;
                return AfterOutput::Nothing;
            }
            head.written += n;
            if (head.written < head.chunk.bytes.size())
                return AfterOutput::Nothing;
        }
        const AfterOutput after = head.chunk.after;
        queue_.pop_front();
        if (!queue_.empty())
            queue_.front().due = now + sim_ms(queue_.front().chunk.delay_ms);
        if (after != AfterOutput::Nothing)
            return after;
    }
    return AfterOutput::Nothing;
}

std::optional<SimTime> OutputQueue::next_wakeup(PtyLine &line, SimTime now) const
{
    if (queue_.empty())
        return std::nullopt;
    const Pending &head = queue_.front();
    if (!head.due)
        return now;
    if (now < *head.due)
        return head.due;
    if (line.write_blocked())
        return std::nullopt; // POLLOUT will tell
    return now + line.write_wait(head.chunk.bytes.size() - head.written, now);
}

bool OutputQueue::waiting_for_room(const PtyLine &line, SimTime now) const
{
    return !queue_.empty() && queue_.front().due && now >= *queue_.front().due && line.write_blocked();
}
