#pragma once

#include <QString>

#include <memory>

struct LabelContent;
struct LabelSettings;

// How a label's printing went: printed, or why it waits.
struct PrintResult
{
    enum Problem { none, paper_out, head_open, paused, no_answer, refused };
    Problem problem = none;
    QString detail;  // the printer's, the system's or the file's words
    bool printed() const { return problem == none; }
};

// Where labels go ([label] printer). print() is called on the label queue's
// thread, one label at a time, and is bounded in time: a printer that does
// not answer is a problem, never a wait without end.
class LabelPrinter
{
public:
    virtual ~LabelPrinter() = default;
    // `name`: the label's own name (its pass's record id; a reprint's too).
    virtual PrintResult print(const LabelContent &content, const QString &name) = 0;
};

// The printer [label] names; null without one.
std::unique_ptr<LabelPrinter> make_label_printer(const LabelSettings &settings);

// ZPL through a system printer queue, raw: a CUPS queue (lp -o raw) or a
// Windows printer (the spooler's RAW data type).
PrintResult print_to_queue(const QString &queue, const QByteArray &zpl, const QString &name);
