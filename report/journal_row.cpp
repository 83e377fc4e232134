#include "report/journal_row.h"

namespace {

const char *const names[] = {"time", "port", "operation", "device_number", "imei_or_mac", "image",
                             "image_bytes", "image_sha256", "result", "detail", "duration_ms"};

bool parse_count(std::string_view text, qint64 *value)
{
    if (text.empty() || text.size() > 18)
        return false;
    qint64 v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// The journal stores a module's value that a spreadsheet would run as a
// formula with a "'" in front; the report shows it as the module sent it.
std::string_view module_value(std::string_view value)
{
    if (value.size() >= 2 && value[0] == '\'' && std::string_view("=+-@\t\r").find(value[1]) != std::string_view::npos)
        value.remove_prefix(1);
    return value;
}

} // namespace

bool JournalColumns::read_header(const JournalScanner::Row &header, QString *missing)
{
    QStringList absent;
    for (int c = 0; c < count; ++c) {
        index_[c] = -1;
        for (size_t i = 0; i < header.fields.size(); ++i)
            if (header.fields[i] == names[c])
                index_[c] = int(i);
        if (index_[c] < 0)
            absent << QLatin1String(names[c]);
    }
    width_ = header.fields.size();
    header_copy_.clear();
    for (const std::string_view field : header.fields)
        header_copy_.append(field).push_back(',');
    *missing = absent.join(QStringLiteral(", "));
    return absent.isEmpty() && !header.torn;
}

bool JournalColumns::is_header(const JournalScanner::Row &row) const
{
    if (row.fields.size() != width_)
        return false;
    size_t at = 0;
    for (const std::string_view field : row.fields) {
        if (header_copy_.compare(at, field.size(), field) != 0 || header_copy_[at + field.size()] != ',')
            return false;
        at += field.size() + 1;
    }
    return true;
}

const char *JournalColumns::parse(const JournalScanner::Row &row, JournalRow *out) const
{
    if (row.too_long)
        return "longer than 1 MiB";
    if (row.torn)
        return "cut off at the end of the file";
    if (row.bad_quotes)
        return "quotes out of place";
    if (row.fields.size() != width_)
        return row.fields.size() < width_ ? "too few fields" : "too many fields";
    const auto field = [&](Column c) { return row.fields[size_t(index_[c])]; };
    if (!parse_journal_time(field(time), &out->time))
        return "no time";
    const std::string_view result_text = field(result);
    if (result_text != "ok" && result_text != "failed")
        return "result neither ok nor failed";
    out->ok = result_text == "ok";
    if (!parse_count(field(duration_ms), &out->duration_ms))
        return "no duration";
    out->image_bytes = -1;
    if (!field(image_bytes).empty() && !parse_count(field(image_bytes), &out->image_bytes))
        return "image_bytes not a number";
    out->operation = field(operation);
    if (out->operation.empty())
        return "no operation";
    out->port = field(port);
    out->device_number = module_value(field(device_number));
    out->imei_or_mac = module_value(field(imei_or_mac));
    out->image = field(image);
    out->image_sha256 = field(image_sha256);
    out->detail = field(detail);
    return nullptr;
}
