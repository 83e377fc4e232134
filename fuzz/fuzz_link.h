#pragma once

#include "worker/module_link.h"
#include "worker/worker_reports.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

// The fuzzer's bytes, consumed front to back. Past the end every byte reads
// as 0, which the link decodes as silence: a conversation that runs out of
// script meets a module that has gone quiet and must end by its own rules.
class FuzzScript
{
public:
    FuzzScript(const std::uint8_t *data, std::size_t size) : data(data), size(size) {}

    bool exhausted() const { return pos >= size; }
    std::size_t remaining() const { return size - pos; }
    std::uint8_t next_byte() { return pos < size ? data[pos++] : 0; }
    // Up to count bytes; fewer when the script ends first.
    QByteArray next_bytes(int count);

private:
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;
};

// How one control byte of the script decides what the module does during
// the next blocking call. "Notified" data ends the wait with true; "quiet"
// data lands in the receive buffer after the wait already timed out, so only
// a later read finds it. make_seeds.py writes scripts in this encoding.
namespace fuzz_event {
constexpr std::uint8_t silence_first = 0x00;      // 0x00..0x3f: nothing arrives
constexpr std::uint8_t token_first = 0x40;        // 0x40..0x7f: token (low 6 bits) % token count
constexpr std::uint8_t burst_first = 0x80;        // 0x80..0xbf: (low 6 bits) + 1 raw bytes follow
constexpr std::uint8_t quiet_burst_first = 0xc0;  // 0xc0..0xdf: (low 5 bits) + 1 raw bytes, quiet
constexpr std::uint8_t quiet_token_first = 0xe0;  // 0xe0..0xff: token (low 5 bits) % token count, quiet
}

// One link call or one report, in the order they happened. Link calls and
// reports share one sequence so that an oracle can check their interleaving.
struct FuzzEvent
{
    enum Kind {
        write_data,
        write_byte,
        wait_for_data,
        wait_once,
        read_all,
        discard_input,
        read_byte,
        report_progress,
        report_progress_max,
        report_debug,
        report_status,
        report_mac_text,
    };
    Kind kind;
    QByteArray bytes;   // written, read or discarded bytes
    qint64 number = 0;  // timeout of a wait or read; progress value; field type; status flag
    int result = 0;     // wait outcome (0/1), or the value read_byte returned
    QString text;       // text of a report

    bool is_link_call() const { return kind <= read_byte; }
};

QString describe(const FuzzEvent &event);

// A ModuleLink whose receive side is played from a FuzzScript. No time
// passes: every wait and read is answered at once by the next script event.
class FuzzLink : public ModuleLink
{
public:
    // A conversation that is still calling after this many link calls is
    // looping: the legitimate maximum of any target is a few hundred.
    static constexpr int max_calls = 100000;

    FuzzLink(FuzzScript &script, std::vector<FuzzEvent> &trace, QList<QByteArray> tokens);

    void write_data(const QByteArray &data) override;
    void write_byte(char byte) override;
    bool wait_for_data(unsigned long timeout_ms) override;
    bool wait_once(unsigned long timeout_ms) override;
    QByteArray read_all() override;
    void discard_input() override;
    qint8 read_byte(quint16 timeout_ms) override;

    int calls() const { return call_count; }
    int waits_and_reads() const { return wait_read_count; }
    const QByteArray &pending() const { return buffer; }

private:
    struct Arrival
    {
        bool notified = false;
        QByteArray bytes;
    };
    Arrival next_arrival();
    void count_call();
    void record(FuzzEvent event);

    FuzzScript &script;
    std::vector<FuzzEvent> &trace;
    QList<QByteArray> tokens;
    QByteArray buffer;
    int call_count = 0;
    int wait_read_count = 0;
};

// Records every report into the shared trace.
class FuzzReports : public WorkerReports
{
public:
    explicit FuzzReports(std::vector<FuzzEvent> &trace) : trace(trace) {}

    void report_progress(int bytes_sent) override;
    void report_progress_max(int image_length) override;
    void report_debug(const QString &line) override;
    void report_status(const QString &text, bool ok) override;
    void report_mac_text(const QString &value, quint8 type) override;

private:
    std::vector<FuzzEvent> &trace;
};

// The conversations trace every step through qDebug; formatting and printing
// that for millions of inputs would drown the fuzzer's own output.
void fuzz_silence_qt_messages();
