#pragma once

#include "label/label_settings.h"

struct OperationRecord;

// What one passed module's label says: its lines of text and its QR code's
// content, whatever draws them (the printer, or this program for a file).
struct LabelContent
{
    QStringList lines;
    // "DN:<device number>", "IMEI:<IMEI>", "ICCID:<ICCID>" (a Wi-Fi module:
    // "MAC:<MAC>", "AUDIO:<audio version>"), "REC:<record id>", one a line
    // (LF): a scanner at the next bench reads the module's identity and the
    // record that holds the rest.
    QString qr;
};

// A field of the record as a label shows it: control characters (a line
// break would forge a line of the QR code) become blanks, blanks around go.
QString label_field(const OperationRecord &record, const QString &name);

// `cellular`: the recipe's variant, which names the record's identity fields.
// With [label] when=pass, "#" and the record id's first six characters: the
// label's first line, and on the tile, so that the operator matches a label
// printed at once to its module. Empty otherwise.
QString label_number(const LabelSettings &settings, const QString &record_id);

LabelContent label_content(const LabelSettings &settings, const OperationRecord &record, bool cellular);
