#pragma once

#include "fuzz/fuzz_link.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <climits>
#include <vector>

// The reply and framing rules written a second time, deliberately in another
// shape than the production code (plain loops over characters, a bit-wise
// CRC), so that a shared mistake is unlikely.
namespace reference {
QByteArray before_nul(const QByteArray &bytes);
QString reply_text(const QByteArray &bytes);
// First index of needle in hay at or after from, or -1.
int index_of(const QString &hay, const QString &needle, int from = 0);
int index_of(const QByteArray &hay, const QByteArray &needle);
bool marker_value(const QString &reply, QString *value);
// The text between the first "+ok=" and the next one (or the end), and its
// comma-separated parts with empty parts kept.
bool info_value(const QString &reply, QString *between, QStringList *fields);
quint16 crc16(const QByteArray &data);
}

// Walks a trace and compares it with what the rules demand, one expectation
// at a time. The first mismatch is kept in error; every later expectation
// then fails at once, so a walker can simply return after a false.
class TraceCursor
{
public:
    explicit TraceCursor(const std::vector<FuzzEvent> &trace) : trace(trace) {}

    bool ok() const { return error.isEmpty(); }
    bool fail(const QString &message);

    const FuzzEvent *take(FuzzEvent::Kind kind, const QString &why);
    bool take_write(const QByteArray &bytes, const QString &why);
    bool take_write_byte(char byte, const QString &why);
    bool take_wait(qint64 timeout_ms, const QString &why, bool *arrived);
    bool take_read_byte(qint64 timeout_ms, const QString &why, int *value);
    bool take_debug(const QString &line);
    bool take_status(const QString &text, bool flag);
    bool take_field(const QString &value, quint8 type);
    bool take_progress(qint64 value);
    bool expect_end(const QString &why);

    int position() const { return pos; }
    QString error;

private:
    QString here() const;

    const std::vector<FuzzEvent> &trace;
    int pos = 0;
};

// Returned by the walkers when the trace already broke a rule.
constexpr int broken_trace = INT_MIN;

// Each walker consumes the events one conversation must produce and returns
// the result the conversation must return (or broken_trace).
int expect_wifi_query(TraceCursor &c);
int expect_cellular_query(TraceCursor &c);
int expect_xmodem(TraceCursor &c, const QByteArray &image, quint8 synced, quint8 block_mode);

enum class ImagePath { valid, empty, missing };
int expect_download(TraceCursor &c, const QByteArray &image, ImagePath path, quint8 type, quint8 block_mode);

// Most link calls one transfer may make: 16 sync tries of up to two reads
// plus the ending writes, up to five sends of three calls per block, ten EOT
// rounds of three calls.
int xmodem_call_bound(int length, quint8 block_mode);

// Structural rules over every frame a transfer wrote, independent of the
// order of events: frame layout, block numbers 1, 2, 3... modulo 256 with
// their complement (a resend repeats the number), data fields holding image
// bytes or pad only, and progress in whole blocks that never decreases.
QString check_xmodem_frames(const std::vector<FuzzEvent> &trace, const QByteArray &image, quint8 block_mode);

QString format_trace(const std::vector<FuzzEvent> &trace, int around = -1);
