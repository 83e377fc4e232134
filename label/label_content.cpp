#include "label/label_content.h"

#include "journal/operation_record.h"

#include <QRegularExpression>

namespace {

QString raw_field(const OperationRecord &r, const QString &name)
{
    const QStringList &names = label_fields();
    switch (names.indexOf(name)) {
    case 0: return r.device_number;
    case 1: return r.imei_or_mac;
    case 2: return r.iccid_or_audio_version;
    case 3: return r.device_version;
    case 4: return r.slot;
    case 5: return r.station;
    case 6: return r.work_order;
    case 7: return r.product;
    case 8: return r.operator_id;
    case 9: return r.started.date().toString(Qt::ISODate);
    case 10: return r.record_id;
    default: return QString();
    }
}

} // namespace

QString label_field(const OperationRecord &record, const QString &name)
{
    QString value = raw_field(record, name);
    for (QChar &c : value) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return value.trimmed();
}

QString label_number(const LabelSettings &settings, const QString &record_id)
{
    if (settings.when != LabelSettings::When::pass || record_id.isEmpty())
        return QString();
    return QLatin1Char('#') + record_id.left(6).toUpper();
}

LabelContent label_content(const LabelSettings &settings, const OperationRecord &record, bool cellular)
{
    static const QRegularExpression field(QStringLiteral("\\{([^{}]*)\\}"));
    LabelContent content;
    const QString number = label_number(settings, label_field(record, QStringLiteral("record_id")));
    if (!number.isEmpty())
        content.lines << number;
    for (const QString &line : settings.lines) {
        QString shown;
        int from = 0;
        for (auto it = field.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            shown += line.mid(from, m.capturedStart() - from) + label_field(record, m.captured(1));
            from = m.capturedEnd();
        }
        content.lines << shown + line.mid(from);
    }
    const QStringList qr {QStringLiteral("DN:") + label_field(record, QStringLiteral("device_number")),
                          (cellular ? QStringLiteral("IMEI:") : QStringLiteral("MAC:"))
                              + label_field(record, QStringLiteral("imei_or_mac")),
                          (cellular ? QStringLiteral("ICCID:") : QStringLiteral("AUDIO:"))
                              + label_field(record, QStringLiteral("iccid_or_audio_version")),
                          QStringLiteral("REC:") + label_field(record, QStringLiteral("record_id"))};
    content.qr = qr.join(QLatin1Char('\n'));
    return content;
}
