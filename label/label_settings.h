#pragma once

#include <QString>
#include <QStringList>

struct IniFile;

// [label] in station.ini: where a passed module's label goes, when, and what
// it says. No [label]: no labels.
struct LabelSettings
{
    enum class Printer { none, zpl, queue, folder };
    Printer printer = Printer::none;
    QString printer_name;  // as [label] printer has it
    QString host;        // zpl://HOST:PORT
    quint16 port = 9100;
    QString queue;       // queue:NAME, a printer queue of the system
    QString folder;      // folder:PATH, absolute
    bool png = true, pdf = false;  // what a folder printer writes (files = png, pdf or both)
    // removal: as the passed module leaves its slot; pass: at once.
    enum class When { removal, pass };
    When when = When::removal;
    double width_mm = 50, height_mm = 30;
    int dpi = 203;
    // The lines of text, each a template over the record's fields:
    // "{device_number}" is replaced by that field (label_fields()).
    QStringList lines;

    bool enabled() const { return printer != Printer::none; }
    int width_dots() const { return qRound(width_mm * dpi / 25.4); }
    int height_dots() const { return qRound(height_mm * dpi / 25.4); }
    // About a millimetre round the edge.
    int margin_dots() const { return qMax(8, dpi / 25); }
    // Dots a side of one of a QR code's modules, its quiet zone (four
    // modules each side) within the label's height.
    int qr_module_dots(int modules) const { return (height_dots() - 2 * margin_dots()) / (modules + 8); }
};

// The fields a line may name, in the order the README lists them.
const QStringList &label_fields();

// Reads [label] of `ini` (read from `recipe_path`: a relative folder is
// taken from the recipe's folder). False with the message, naming the key,
// when a value is wrong; true with printer none when there is no [label].
bool read_label_settings(const IniFile &ini, const QString &recipe_path, LabelSettings *settings, QString *error);
