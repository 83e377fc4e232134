#include "report/svg_charts.h"

#include "journal/journal_time.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr double width = 960, height = 250, left = 52, top = 18, bottom = 46;
// The names under the Pareto bars: three lines fit in the bottom margin.
constexpr double name_px = 11, name_line = 13;
constexpr int name_lines = 3;

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

void text_at(Markup *svg, double x, double y, const char *cls, const char *anchor, const QString &text)
{
    svg->element("text", {{"class", cls}, {"x", n(x)}, {"y", n(y)}, {"text-anchor", anchor}}, text);
}

Markup svg_open(const char *chart, const QString &label)
{
    Markup svg;
    svg.open("svg", {{"class", "chart"}, {"data-chart", chart}, {"viewBox", QStringLiteral("0 0 %1 %2").arg(n(width), n(height))},
                     {"role", "img"}, {"aria-label", label}, {"xmlns", "http://www.w3.org/2000/svg"}});
    return svg;
}

// Horizontal grid lines with their counts on the left; the top of the scale.
quint64 count_axis(Markup *svg, quint64 max, double right)
{
    const quint64 step = tick_step(std::max<quint64>(max, 1));
    const quint64 scale_top = (std::max<quint64>(max, 1) + step - 1) / step * step;
    const double plot_h = height - top - bottom;
    for (quint64 v = 0; v <= scale_top; v += step) {
        const double y = top + plot_h - plot_h * double(v) / double(scale_top);
        svg->empty("line", {{"class", "grid"}, {"x1", n(left)}, {"x2", n(right)}, {"y1", n(y)}, {"y2", n(y)}});
        text_at(svg, left - 6, y + 4, "axis", "end", grouped(v));
    }
    return scale_top;
}

// How wide a character shows in the bar names, on the safe side: the page's
// sans-serif averages about 0.6 em a Latin letter; wide (CJK) characters
// take 1 em, the second half of a surrogate pair nothing.
double shown_width(QChar c)
{
    return name_px * (c.isLowSurrogate() ? 0 : c.unicode() >= 0x1100 && c.unicode() != 0x202F ? 1.0 : 0.62);
}

double shown_width(const QString &text)
{
    double w = 0;
    for (const QChar c : text)
        w += shown_width(c);
    return w;
}

// The text in at most `max_lines` lines of `line_width`, broken between
// words where it can (inside a word too long for a line, or text without
// blanks); what does not fit ends in "…". Stops reading once the lines are
// full: a detail can be a module's whole reply.
QStringList wrapped(const QString &text, double line_width, int max_lines)
{
    QStringList lines;
    QString line;
    double line_w = 0;
    const double blank = shown_width(QLatin1Char(' '));
    for (const QString &word : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (lines.size() > max_lines)
            break;
        const double word_w = shown_width(word);
        if (!line.isEmpty() && line_w + blank + word_w <= line_width) {
            line += QLatin1Char(' ') + word;
            line_w += blank + word_w;
            continue;
        }
        // A word too long for any line is broken anyway: it starts where
        // this line has room.
        if (!line.isEmpty() && word_w <= line_width) {
            lines << line;
            line.clear();
            line_w = 0;
        } else if (!line.isEmpty()) {
            line += QLatin1Char(' ');
            line_w += blank;
        }
        for (int i = 0; i < word.size() && lines.size() <= max_lines; ++i) {
            if (line_w + shown_width(word.at(i)) > line_width && !line.isEmpty() && !word.at(i).isLowSurrogate()) {
                lines << line;
                line.clear();
                line_w = 0;
            }
            line += word.at(i);
            line_w += shown_width(word.at(i));
        }
    }
    if (!line.isEmpty())
        lines << line;
    if (lines.size() > max_lines) {
        lines.erase(lines.begin() + max_lines, lines.end());
        QString &last = lines.last();
        while (!last.isEmpty() && shown_width(last) + shown_width(QChar(0x2026)) > line_width)
            last.chop(last.size() > 1 && last.at(last.size() - 1).isLowSurrogate() ? 2 : 1);
        last += QChar(0x2026);
    }
    return lines;
}

} // namespace

Markup throughput_chart(const ShiftFigures &f)
{
    const bool daily = f.bucket_ms > hour_ms;
    Markup svg = svg_open("throughput", daily ? QCoreApplication::translate("ShiftReportPage", "Modules by date") : QCoreApplication::translate("ShiftReportPage", "Modules per hour"));
    const double right = width - 26, plot_w = right - left, plot_h = height - top - bottom;
    const int count = f.buckets.size();
    quint64 max = 0;
    for (const auto &b : f.buckets)
        max = std::max(max, b.modules);
    const quint64 scale_top = count_axis(&svg, max, right);
    const double slot = plot_w / std::max(count, 1), gap = std::min(4.0, slot * 0.2);
    // At most about 14 labels, on whole bars, the date under the first and
    // under each new day.
    const int every = std::max(1, int(std::ceil(count / 14.0)));
    QString last_date;
    for (int i = 0; i < count; ++i) {
        const auto &b = f.buckets[i];
        const double h = plot_h * double(b.modules) / double(scale_top), x = left + i * slot + gap / 2;
        const QString when = wall_text(b.start_wall_ms);
        svg.open("rect", {{"class", i == f.busiest ? QStringLiteral("bar busiest") : QStringLiteral("bar")}, {"x", n(x)},
                          {"y", n(top + plot_h - h)}, {"width", n(slot - gap)}, {"height", n(h)}})
            .element("title", QCoreApplication::translate("ShiftReportPage", "%1%2: %3 modules, %4 operations")
                                  .arg(daily ? when.left(10) : when,
                                       daily ? QString() : QStringLiteral("–") + wall_text(b.start_wall_ms + hour_ms).mid(11, 5),
                                       grouped(b.modules), grouped(b.operations)))
            .close("rect");
        const double centre = left + (i + 0.5) * slot;
        if (count <= 24 && b.modules > 0)
            text_at(&svg, centre, top + plot_h - h - 4, "value", "middle", grouped(b.modules));
        if (i % every != 0)
            continue;
        text_at(&svg, centre, height - bottom + 16, "axis", "middle", daily ? when.mid(5, 5) : when.mid(11, 5));
        const QString date = when.left(10);
        if (!daily && date != last_date)
            text_at(&svg, centre, height - bottom + 32, "axis date", "middle", date.mid(5));
        last_date = date;
    }
    return svg.close("svg");
}

Markup pareto_chart(const ShiftFigures &f, int max_bars)
{
    Markup svg = svg_open("pareto", QCoreApplication::translate("ShiftReportPage", "Failures by detail, most first"));
    const double right = width - left, plot_w = right - left, plot_h = height - top - bottom;
    const int count = std::min(f.failures.size(), max_bars);
    const quint64 scale_top = count_axis(&svg, count ? f.failures[0].count : 0, right);
    for (int pct = 0; pct <= 100; pct += 25)
        text_at(&svg, right + 6, top + plot_h - plot_h * pct / 100.0 + 4, "axis", "start", QStringLiteral("%1 %").arg(pct));
    const double slot = plot_w / std::max(count, 1), bar = std::min(slot * 0.7, 90.0);
    QStringList points;
    Markup dots;
    quint64 cumulative = 0;
    for (int i = 0; i < count; ++i) {
        const auto &c = f.failures[i];
        cumulative += c.count;
        const double centre = left + (i + 0.5) * slot, h = plot_h * double(c.count) / double(scale_top);
        const QString name = QString::number(i + 1) + QStringLiteral(". ")
                             + (c.name.isEmpty() ? QCoreApplication::translate("ShiftReportPage", "(no detail)") : c.name);
        svg.open("rect", {{"class", "bar pareto"}, {"x", n(centre - bar / 2)}, {"y", n(top + plot_h - h)}, {"width", n(bar)},
                          {"height", n(h)}})
            .element("title", name + QStringLiteral(": ") + grouped(c.count))
            .close("rect");
        text_at(&svg, centre, top + plot_h - h - 4, "value", "middle", grouped(c.count));
        const QStringList lines = wrapped(name, slot - 8, name_lines);
        for (int l = 0; l < lines.size(); ++l)
            text_at(&svg, centre, height - bottom + 15 + l * name_line, "axis cause", "middle", lines[l]);
        const double y = top + plot_h - plot_h * double(cumulative) / double(f.failed_records);
        points << n(centre) + QLatin1Char(',') + n(y);
        dots.empty("circle", {{"class", "cumulative"}, {"cx", n(centre)}, {"cy", n(y)}, {"r", "3.5"}});
    }
    if (count > 0)
        svg.empty("polyline", {{"class", "cumulative"}, {"points", points.join(QLatin1Char(' '))}}).add(dots);
    return svg.close("svg");
}
