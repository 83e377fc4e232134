#include "report/label_tally.h"

#include "journal/journal_time.h"
#include "journal/label_journal.h"

#include <algorithm>

namespace L = label_journal_format;

void LabelTally::add(const QStringList &values, qint64 record_wall_ms)
{
    Pass &pass = passes_[values[L::record_id].toLower().toStdString()];
    const QString &event = values[L::event];
    if (event == QLatin1String("printed") || event == QLatin1String("reprinted")) {
        pass.printed = true;
        pass.row = ShiftFigures::Unlabelled();
        return;
    }
    JournalTime time;
    const qint64 instant = parse_journal_time(values[L::time].toStdString(), &time) ? time.instant_ms : 0;
    pass.given_up = pass.given_up || event == QLatin1String("given up");
    // The latest word on it; of two in one millisecond, giving up.
    if (pass.printed || instant < pass.latest_ms || (instant == pass.latest_ms && event != QLatin1String("given up")))
        return;
    pass.latest_ms = instant;
    pass.row = {values[L::device_number], values[L::imei_or_mac], values[L::station], values[L::slot], pass.given_up, values[L::detail], record_wall_ms};
}

void LabelTally::fill(ShiftFigures *f) const
{
    std::vector<const ShiftFigures::Unlabelled *> unprinted;
    for (const auto &pass : passes_) {
        if (!pass.second.printed)
            unprinted.push_back(&pass.second.row);
    }
    f->label_passes = passes_.size();
    f->unlabelled = unprinted.size();
    // By the pass's time, then its identity: the same list whatever order
    // the events came in.
    std::sort(unprinted.begin(), unprinted.end(), [](const auto *a, const auto *b) {
        return std::tie(a->wall_ms, a->device_number, a->imei_or_mac, a->station)
               < std::tie(b->wall_ms, b->device_number, b->imei_or_mac, b->station);
    });
    unprinted.resize(std::min(unprinted.size(), size_t(failed_modules_kept)));
    for (const auto *row : unprinted)
        f->unlabelled_rows.append(*row);
}
