#pragma once

#include "report/shift_figures.h"

#include <QStringList>

#include <string>
#include <unordered_map>

// The label journals' events of the passes a report counts, from files or
// the database alike, in any order: a pass whose label fell due (waiting or
// given up) and that no print followed is listed, with what its latest such
// event said. Reprints count as printed.
class LabelTally
{
public:
    // An event's values by label_journal_format::columns, the pass's time
    // as its local wall time.
    void add(const QStringList &values, qint64 record_wall_ms);
    void fill(ShiftFigures *f) const;

private:
    struct Pass
    {
        bool printed = false;
        bool given_up = false;
        qint64 latest_ms = -1;  // the instant of the latest waiting or given up
        ShiftFigures::Unlabelled row;
    };
    std::unordered_map<std::string, Pass> passes_;
};
