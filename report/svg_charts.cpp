#include "report/svg_charts.h"

#include "report/html_text.h"
#include "report/wall_clock.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr double width = 960, height = 250, left = 52, top = 18, bottom = 46;

// A step of 1, 2 or 5 times a power of ten that splits `max` into at most
// four parts.
quint64 tick_step(quint64 max)
{
    quint64 step = 1;
    for (;;) {
        for (const quint64 m : {1, 2, 5})
            if (step * m * 4 >= max)
                return step * m;
        step *= 10;
    }
}

QString n(double v)
{
    return QString::number(v, 'f', 1);
}

QString text_at(double x, double y, const QString &cls, const QString &anchor, const QString &text)
{
    return QStringLiteral("<text class=\"%1\" x=\"%2\" y=\"%3\" text-anchor=\"%4\">%5</text>")
        .arg(cls, n(x), n(y), anchor, text);
}

QString svg_open(const QString &chart, const QString &label)
{
    return QStringLiteral("<svg class=\"chart\" data-chart=\"%1\" viewBox=\"0 0 %2 %3\" role=\"img\" "
                          "aria-label=\"%4\" xmlns=\"http://www.w3.org/2000/svg\">")
        .arg(chart, n(width), n(height), html_escaped(label));
}

// Horizontal grid lines with their counts on the left; the top of the scale.
QString count_axis(quint64 max, double right, quint64 *scale_top)
{
    const quint64 step = tick_step(std::max<quint64>(max, 1));
    *scale_top = (std::max<quint64>(max, 1) + step - 1) / step * step;
    const double plot_h = height - top - bottom;
    QString out;
    for (quint64 v = 0; v <= *scale_top; v += step) {
        const double y = top + plot_h - plot_h * double(v) / double(*scale_top);
        out += QStringLiteral("<line class=\"grid\" x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\"/>").arg(n(left), n(right), n(y));
        out += text_at(left - 6, y + 4, QStringLiteral("axis"), QStringLiteral("end"), grouped(v));
    }
    return out;
}

} // namespace

QString throughput_chart(const ShiftFigures &f)
{
    const bool daily = f.bucket_ms > hour_ms;
    QString svg = svg_open(QStringLiteral("throughput"), daily ? QStringLiteral("Modules by date")
                                                               : QStringLiteral("Modules per hour"));
    const double right = width - 26, plot_w = right - left, plot_h = height - top - bottom;
    const int count = f.buckets.size();
    quint64 max = 0;
    for (const auto &b : f.buckets)
        max = std::max(max, b.modules);
    quint64 scale_top = 1;
    svg += count_axis(max, right, &scale_top);
    const double slot = plot_w / std::max(count, 1), gap = std::min(4.0, slot * 0.2);
    // At most about 14 labels, on whole bars, the date under the first and
    // under each new day.
    const int every = std::max(1, int(std::ceil(count / 14.0)));
    QString last_date;
    for (int i = 0; i < count; ++i) {
        const auto &b = f.buckets[i];
        const double h = plot_h * double(b.modules) / double(scale_top), x = left + i * slot + gap / 2;
        const QString when = wall_text(b.start_wall_ms);
        const QString title = QStringLiteral("%1%2: %3 modules, %4 operations")
                                  .arg(daily ? when.left(10) : when,
                                       daily ? QString() : QStringLiteral("–") + wall_text(b.start_wall_ms + hour_ms).mid(11, 5),
                                       grouped(b.modules), grouped(b.operations));
        svg += QStringLiteral("<rect class=\"bar%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\"><title>%6</title></rect>")
                   .arg(i == f.busiest ? QStringLiteral(" busiest") : QString(), n(x), n(top + plot_h - h),
                        n(slot - gap), n(h), title);
        const double centre = left + (i + 0.5) * slot;
        if (count <= 24 && b.modules > 0)
            svg += text_at(centre, top + plot_h - h - 4, QStringLiteral("value"), QStringLiteral("middle"),
                           grouped(b.modules));
        if (i % every != 0)
            continue;
        svg += text_at(centre, height - bottom + 16, QStringLiteral("axis"), QStringLiteral("middle"),
                       daily ? when.mid(5, 5) : when.mid(11, 5));
        const QString date = when.left(10);
        if (!daily && date != last_date)
            svg += text_at(centre, height - bottom + 32, QStringLiteral("axis date"), QStringLiteral("middle"),
                           date.mid(5));
        last_date = date;
    }
    return svg + QStringLiteral("</svg>");
}

QString pareto_chart(const ShiftFigures &f, int max_bars)
{
    QString svg = svg_open(QStringLiteral("pareto"), QStringLiteral("Failures by detail, most first"));
    const double right = width - left, plot_w = right - left, plot_h = height - top - bottom;
    const int count = std::min(f.failures.size(), max_bars);
    const quint64 max = count ? f.failures[0].count : 0;
    quint64 scale_top = 1;
    svg += count_axis(max, right, &scale_top);
    for (int pct = 0; pct <= 100; pct += 25)
        svg += text_at(right + 6, top + plot_h - plot_h * pct / 100.0 + 4, QStringLiteral("axis"),
                       QStringLiteral("start"), QStringLiteral("%1 %").arg(pct));
    const double slot = plot_w / std::max(count, 1), bar = std::min(slot * 0.7, 90.0);
    QStringList points;
    QString dots;
    quint64 cumulative = 0;
    for (int i = 0; i < count; ++i) {
        const auto &c = f.failures[i];
        cumulative += c.count;
        const double centre = left + (i + 0.5) * slot, h = plot_h * double(c.count) / double(scale_top);
        const QString title = html_escaped(QStringLiteral("%1. %2: %3").arg(i + 1).arg(c.name.isEmpty() ? QStringLiteral("(no detail)") : c.name, grouped(c.count)));
        svg += QStringLiteral("<rect class=\"bar pareto\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"><title>%5</title></rect>")
                   .arg(n(centre - bar / 2), n(top + plot_h - h), n(bar), n(h), title);
        svg += text_at(centre, top + plot_h - h - 4, QStringLiteral("value"), QStringLiteral("middle"), grouped(c.count));
        svg += text_at(centre, height - bottom + 16, QStringLiteral("axis"), QStringLiteral("middle"), QString::number(i + 1));
        const double y = top + plot_h - plot_h * double(cumulative) / double(f.failed_records);
        points << n(centre) + QLatin1Char(',') + n(y);
        dots += QStringLiteral("<circle class=\"cumulative\" cx=\"%1\" cy=\"%2\" r=\"3.5\"/>").arg(n(centre), n(y));
    }
    if (count > 0)
        svg += QStringLiteral("<polyline class=\"cumulative\" points=\"%1\"/>").arg(points.join(QLatin1Char(' '))) + dots;
    return svg + QStringLiteral("</svg>");
}
