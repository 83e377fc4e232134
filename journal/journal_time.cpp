#include "journal/journal_time.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
qint64 days_from_civil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(qint64 z, int *year, int *month, int *day)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(yoe + era * 400 + (*month <= 2));
}

bool leap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Reads exactly `count` digits at *pos.
bool digits(std::string_view s, size_t *pos, int count, int *value)
{
    if (*pos + size_t(count) > s.size())
        return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char c = s[*pos + size_t(i)];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *pos += size_t(count);
    *value = v;
    return true;
}

bool expect(std::string_view s, size_t *pos, char c)
{
    if (*pos >= s.size() || s[*pos] != c)
        return false;
    ++*pos;
    return true;
}

// The date and time part shared by journal times and the options; a blank
// stands for the 'T' as well, since operators type it that way.
bool parse_date_time(std::string_view s, size_t *pos, qint64 *wall_ms, bool date_alone_ok)
{
    int y, mo, d, h = 0, mi = 0, sec = 0;
    if (!digits(s, pos, 4, &y) || !expect(s, pos, '-') || !digits(s, pos, 2, &mo) || !expect(s, pos, '-')
        || !digits(s, pos, 2, &d))
        return false;
    // Year 0 is no year of the calendar the database keeps.
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo))
        return false;
    const bool date_alone = *pos == s.size();
    if (!(date_alone && date_alone_ok)) {
        if (*pos >= s.size() || (s[*pos] != 'T' && s[*pos] != ' '))
            return false;
        ++*pos;
        if (!digits(s, pos, 2, &h) || !expect(s, pos, ':') || !digits(s, pos, 2, &mi))
            return false;
        if (*pos < s.size() && s[*pos] == ':' && (++*pos, !digits(s, pos, 2, &sec)))
            return false;
        if (h > 23 || mi > 59 || sec > 60)
            return false;
    }
    *wall_ms = ((days_from_civil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + qint64(sec) * 1000;
    return true;
}

} // namespace

bool parse_journal_time(std::string_view s, JournalTime *time)
{
    size_t pos = 0;
    qint64 wall = 0;
    if (!parse_date_time(s, &pos, &wall, false))
        return false;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        int ms = 0, n = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && n < 3) {
            ms = ms * 10 + (s[pos++] - '0');
            ++n;
        }
        if (n == 0)
            return false;
        while (n++ < 3)
            ms *= 10;
        wall += ms;
    }
    int offset = 0;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        const int sign = s[pos++] == '-' ? -1 : 1;
        int oh, om;
        if (!digits(s, &pos, 2, &oh) || !expect(s, &pos, ':') || !digits(s, &pos, 2, &om) || oh > 23 || om > 59)
            return false;
        offset = sign * (oh * 60 + om);
    }
    if (pos != s.size())
        return false;
    time->wall_ms = wall;
    time->offset_minutes = offset;
    time->instant_ms = wall - qint64(offset) * 60000;
    return true;
}

bool parse_local_time(const QString &text, qint64 *wall_ms)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const std::string_view s(bytes.constData(), size_t(bytes.size()));
    size_t pos = 0;
    return parse_date_time(s, &pos, wall_ms, true) && pos == s.size();
}

qint64 floor_to(qint64 wall_ms, qint64 step_ms)
{
    const qint64 q = wall_ms / step_ms;
    return (q - (wall_ms % step_ms < 0 ? 1 : 0)) * step_ms;
}

namespace {

QString format_wall(qint64 wall_ms, QChar separator)
{
    const qint64 day_ms = 24 * hour_ms;
    const qint64 day_start = floor_to(wall_ms, day_ms);
    int y, mo, d;
    civil_from_days(day_start / day_ms, &y, &mo, &d);
    const qint64 in_day = wall_ms - day_start;
    const int h = int(in_day / hour_ms), mi = int(in_day / 60000 % 60), sec = int(in_day / 1000 % 60);
    QString text = QStringLiteral("%1-%2-%3%4%5:%6")
                       .arg(y, 4, 10, QLatin1Char('0'))
                       .arg(mo, 2, 10, QLatin1Char('0'))
                       .arg(d, 2, 10, QLatin1Char('0'))
                       .arg(separator)
                       .arg(h, 2, 10, QLatin1Char('0'))
                       .arg(mi, 2, 10, QLatin1Char('0'));
    if (sec != 0)
        text += QStringLiteral(":%1").arg(sec, 2, 10, QLatin1Char('0'));
    return text;
}

} // namespace

QString wall_text(qint64 wall_ms)
{
    return format_wall(wall_ms, QLatin1Char(' '));
}

QString wall_iso(qint64 wall_ms)
{
    return format_wall(wall_ms, QLatin1Char('T'));
}

QByteArray timestamp_text(qint64 ms)
{
    const qint64 day_ms = 24 * hour_ms;
    const qint64 day_start = floor_to(ms, day_ms);
    int y, mo, d;
    civil_from_days(day_start / day_ms, &y, &mo, &d);
    const qint64 in_day = ms - day_start;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, int(in_day / hour_ms),
                  int(in_day / 60000 % 60), int(in_day / 1000 % 60), int(in_day % 1000));
    return QByteArray(text);
}
