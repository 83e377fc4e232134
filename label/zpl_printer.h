#pragma once

#include "label/label_printer.h"
#include "label/label_settings.h"

#include <QByteArray>

// A label printer's raw port (zpl://HOST:9100). Before each job the printer
// is asked for its state (~HS): paper out, head open or paused means the
// label waits, as does a printer that does not answer within wait_ms.
class ZplPrinter : public LabelPrinter
{
public:
    static constexpr int wait_ms = 2000;

    explicit ZplPrinter(const LabelSettings &settings) : settings(settings) {}
    PrintResult print(const LabelContent &content, const QString &name) override;

    // What ~HS's answer says: its first string's fields 2 and 3 (paper out,
    // pause), its second's field 3 (head up). no_answer unless the answer
    // holds both strings.
    static PrintResult read_host_status(const QByteArray &answer);

private:
    LabelSettings settings;
};
