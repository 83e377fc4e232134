#pragma once

#include <QByteArray>

struct LabelContent;
struct LabelSettings;

// One label as a ZPL job (^XA … ^XZ) for a printer that draws it itself:
// UTF-8 (^CI28), the QR code (^BQ) on the left as tall as the label allows,
// the lines to its right. Field data goes through ^FH, so that a '^' or '~'
// in a module's answer is printed, not taken for a command.
QByteArray zpl_label(const LabelContent &content, const LabelSettings &settings);

// The bytes of `text` as ZPL field data under ^FH_: '^', '~' and '_' as _5E,
// _7E and _5F, control bytes likewise.
QByteArray zpl_field_data(const QString &text);
