#include "label/zpl_label.h"

#include "label/label_content.h"
#include "label/qr_symbol.h"

QByteArray zpl_field_data(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '^' || c == '~' || c == '_' || byte < 0x20 || byte == 0x7f)
            out += '_' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

QByteArray zpl_label(const LabelContent &content, const LabelSettings &settings)
{
    const int width = settings.width_dots(), height = settings.height_dots();
    const int margin = settings.margin_dots();
    // ^BQ's magnification: the dots of a module, as this program draws it.
    const int modules = qr_symbol_modules(content.qr);
    const int magnification = modules > 0 ? qBound(1, settings.qr_module_dots(modules), 10) : 1;
    const int symbol = modules > 0 ? (modules + 8) * magnification : 0;
    QByteArray job = "^XA\n^CI28\n^PW" + QByteArray::number(width) + "\n^LL" + QByteArray::number(height) + "\n^LH0,0\n";
    if (modules > 0)
        job += "^FO" + QByteArray::number(margin) + ',' + QByteArray::number(margin) + "^BQN,2,"
               + QByteArray::number(magnification) + "^FH_^FDQA," + zpl_field_data(content.qr) + "^FS\n";
    const int left = margin + symbol + margin;
    const int lines = qMax(1, int(content.lines.size()));
    const int line_height = qMax(12, (height - 2 * margin) / lines);
    // The printer's font 0 is about half as wide as it is high: the longest
    // line fits beside the code.
    int longest = 1;
    for (const QString &line : content.lines)
        longest = qMax(longest, int(line.size()));
    const int font = qMax(10, qMin(line_height * 4 / 5, 2 * (width - left - margin) / longest));
    for (int i = 0; i < content.lines.size(); ++i)
        job += "^FO" + QByteArray::number(left) + ',' + QByteArray::number(margin + i * line_height) + "^A0N,"
               + QByteArray::number(font) + ',' + QByteArray::number(font) + "^FB" + QByteArray::number(qMax(1, width - left - margin))
               + ",1,0,L,0^FH_^FD" + zpl_field_data(content.lines[i]) + "^FS\n";
    job += "^XZ\n";
    return job;
}
