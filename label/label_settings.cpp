#include "label/label_settings.h"

#include "journal/ini_file.h"
#include "label/qr_symbol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("Recipe", source);
}

// Each {name} in `line` is a field of label_fields(); the first that is not.
QString unknown_field(const QString &line)
{
    static const QRegularExpression field(QStringLiteral("\\{([^{}]*)\\}"));
    for (auto it = field.globalMatch(line); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!label_fields().contains(name))
            return name;
    }
    return QString();
}

} // namespace

const QStringList &label_fields()
{
    static const QStringList fields {QStringLiteral("device_number"), QStringLiteral("imei_or_mac"),
                                     QStringLiteral("iccid_or_audio_version"), QStringLiteral("device_version"),
                                     QStringLiteral("slot"), QStringLiteral("station"), QStringLiteral("work_order"),
                                     QStringLiteral("product"), QStringLiteral("operator"), QStringLiteral("date"),
                                     QStringLiteral("record_id")};
    return fields;
}

bool read_label_settings(const IniFile &ini, const QString &recipe_path, LabelSettings *settings, QString *error)
{
    *settings = LabelSettings();
    const QString section = QStringLiteral("label");
    if (!ini.lines.contains(section))
        return true;
    const QString file = QDir::toNativeSeparators(QFileInfo(recipe_path).absoluteFilePath());
    const auto value = [&](const char *key) { return ini.values.value(section + QLatin1Char('/') + QLatin1String(key)); };
    const auto invalid = [&](const char *key, const QString &given) {
        *error = text("配方 %1：[label] %2=%3 无效").arg(file, QLatin1String(key), given);
        return false;
    };

    const QString printer = value("printer");
    settings->printer_name = printer;
    static const QRegularExpression zpl(QStringLiteral("^zpl://([^:/\\s]+)(?::(\\d{1,5}))?/?$"));
    const QRegularExpressionMatch to_zpl = zpl.match(printer);
    if (to_zpl.hasMatch()) {
        settings->printer = LabelSettings::Printer::zpl;
        settings->host = to_zpl.captured(1);
        const int port = to_zpl.captured(2).isEmpty() ? 9100 : to_zpl.captured(2).toInt();
        if (port < 1 || port > 65535)
            return invalid("printer", printer);
        settings->port = quint16(port);
    } else if (printer.startsWith(QLatin1String("queue:")) && printer.size() > 6) {
        settings->printer = LabelSettings::Printer::queue;
        settings->queue = printer.mid(6);
    } else if (printer.startsWith(QLatin1String("folder:")) && printer.size() > 7) {
        settings->printer = LabelSettings::Printer::folder;
        settings->folder = QDir::cleanPath(QFileInfo(recipe_path).absoluteDir().absoluteFilePath(printer.mid(7)));
    } else {
        return invalid("printer", printer);
    }

    const QString files = value("files").isEmpty() ? QStringLiteral("png") : value("files");
    const QStringList kinds = files.split(QLatin1Char(','), Qt::SkipEmptyParts);
    settings->png = settings->pdf = false;
    for (const QString &kind : kinds) {
        if (kind.trimmed() == QLatin1String("png"))
            settings->png = true;
        else if (kind.trimmed() == QLatin1String("pdf"))
            settings->pdf = true;
        else
            return invalid("files", files);
    }
    if (!settings->png && !settings->pdf)
        return invalid("files", files);

    const QString when = value("when").isEmpty() ? QStringLiteral("removal") : value("when");
    if (when != QLatin1String("removal") && when != QLatin1String("pass"))
        return invalid("when", when);
    settings->when = when == QLatin1String("pass") ? LabelSettings::When::pass : LabelSettings::When::removal;

    // Sizes a label printer takes: a stamp to a shipping label.
    const auto number = [&](const char *key, double low, double high, double *out) {
        const QString given = value(key);
        if (given.isEmpty())
            return true;
        bool ok = false;
        const double v = given.toDouble(&ok);
        if (!ok || v < low || v > high)
            return invalid(key, given);
        *out = v;
        return true;
    };
    double dpi = settings->dpi;
    if (!number("width_mm", 10, 200, &settings->width_mm) || !number("height_mm", 10, 300, &settings->height_mm)
        || !number("dpi", 100, 600, &dpi))
        return false;
    settings->dpi = int(dpi);
    // A module of one dot is more than a scanner on the line can read: the
    // label must give two to the code of a module with long answers (a
    // 20-character device number, an IMEI, an ICCID, the record id).
    const QString longest = QStringLiteral("DN:%1\nIMEI:%2\nICCID:%3\nREC:%4")
                                .arg(QString(20, QLatin1Char('D')), QString(15, QLatin1Char('8')),
                                     QString(20, QLatin1Char('8')), QString(36, QLatin1Char('f')));
    if (settings->qr_module_dots(qr_symbol_modules(longest)) < 2) {
        const double needed_mm = (2.0 * (qr_symbol_modules(longest) + 8) + 2 * settings->margin_dots()) * 25.4 / settings->dpi;
        *error = text("配方 %1：[label] height_mm=%2 放不下二维码（%3 dpi 时至少 %4 mm）")
                     .arg(file, QString::number(settings->height_mm), QString::number(settings->dpi),
                          QString::number(std::ceil(needed_mm)));
        return false;
    }

    // `line = ...` as often as the label has lines, in the file's order.
    for (const auto &line : ini.lines.value(section)) {
        if (line.first.trimmed().toLower() != QLatin1String("line"))
            continue;
        const QString unknown = unknown_field(line.second);
        if (!unknown.isNull()) {
            *error = text("配方 %1：[label] line=%2：没有字段 {%3}（可用：%4）")
                         .arg(file, line.second, unknown, label_fields().join(QStringLiteral(", ")));
            return false;
        }
        settings->lines << line.second;
    }
    if (settings->lines.isEmpty())
        settings->lines = QStringList {QStringLiteral("{device_number}"), QStringLiteral("{imei_or_mac}"),
                                       QStringLiteral("{iccid_or_audio_version}"), QStringLiteral("{date}")};
    return true;
}
