#include "trace/trace_option.h"

#include <QLoggingCategory>
#include <QStringList>

namespace {
const QStringList layers {QStringLiteral("link"),   QStringLiteral("worker"),    QStringLiteral("protocol"),
                          QStringLiteral("xmodem"), QStringLiteral("discovery"), QStringLiteral("journal"),
                          QStringLiteral("db")};
}

QString trace_layer_names()
{
    return layers.join(QStringLiteral(", "));
}

bool trace_rules(const QString &value, QString *rules, QString *error)
{
    // A script reads the results; the layers' trace is for whoever debugs.
    QStringList lines {QStringLiteral("kv20.*.debug=false")};
    for (const QString &layer : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (layer != QLatin1String("all") && !layers.contains(layer)) {
            *error = QStringLiteral("--trace takes %1 or all, not \"%2\"").arg(trace_layer_names(), layer);
            return false;
        }
        lines << QStringLiteral("kv20.%1.debug=true").arg(layer == QLatin1String("all") ? QStringLiteral("*") : layer);
    }
    *rules = lines.join(QLatin1Char('\n'));
    return true;
}

void apply_trace_rules(const QString &rules)
{
    // A console program's messages go to standard error on Windows too, also
    // without a console window, where Qt would hand them to the debugger.
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
    QLoggingCategory::setFilterRules(rules);
}
