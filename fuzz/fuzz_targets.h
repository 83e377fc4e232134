#pragma once

#include "fuzz/fuzz_link.h"
#include "fuzz/fuzz_oracles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <vector>

// Every target runs one input through the code under test and returns the
// first rule it saw broken, with enough of the trace to understand it, or an
// empty text. The libFuzzer entry turns a finding into a crash; the replay
// test turns it into a test failure.
//
// The link-driven targets can hand back what happened, so that a test can
// tell whether a seed still reaches the outcome it was written for.
struct FuzzOutcome
{
    int result = 0;
    std::vector<FuzzEvent> trace;
};
QString fuzz_reply_text(const std::uint8_t *data, std::size_t size);
QString fuzz_device_query(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome = nullptr);
QString fuzz_download_ack(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome = nullptr);
QString fuzz_xmodem(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome = nullptr);

// The checks each link-driven target applies to one run, open to a test
// that feeds them a doctored trace.
QString check_query_run(const std::vector<FuzzEvent> &trace, bool cellular, int result);
QString check_xmodem_run(const std::vector<FuzzEvent> &trace, const QByteArray &image, quint8 synced,
                         quint8 block_mode, int result);
QString check_download_run(const std::vector<FuzzEvent> &trace, const QByteArray &image, ImagePath path, quint8 type,
                           quint8 block_mode, int result);
// The image a configuration byte of fuzz_xmodem selects, and the image file
// of fuzz_download_ack.
QByteArray fuzz_xmodem_image(std::uint8_t config);
const QByteArray &fuzz_download_image();

// The reply rules, checked against whichever functions are passed in, so
// that the checker itself can be tried on deliberately broken stand-ins.
struct ReplyFunctions
{
    QString (*reply_text)(const QByteArray &bytes);
    bool (*extract_marker_value)(const QString &reply, QString *value);
    bool (*split_info_value)(const QString &reply, QStringList *fields, int *value_length);
};
QString check_reply_rules(const QByteArray &input, const ReplyFunctions &functions);

// Prints the finding and aborts, so that libFuzzer keeps the input.
void fuzz_abort_on_finding(const QString &finding);

#ifdef KV20_LIBFUZZER
#define KV20_FUZZ_ENTRY(target)                                                          \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)     \
    {                                                                                     \
        static const bool quiet = (fuzz_silence_qt_messages(), true);                     \
        (void)quiet;                                                                      \
        const QString finding = target(data, size);                                       \
        if (!finding.isEmpty())                                                           \
            fuzz_abort_on_finding(finding);                                               \
        return 0;                                                                         \
    }
#else
#define KV20_FUZZ_ENTRY(target)
#endif
