#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Each target runs one input through the code under test and returns the
// first invariant it saw broken, or an empty text. Under libFuzzer a finding
// aborts; the replay test (tests/fuzz) turns it into a test failure.
QString fuzz_reply_text(const std::uint8_t *data, std::size_t size);
QString fuzz_device_query(const std::uint8_t *data, std::size_t size);
QString fuzz_download_ack(const std::uint8_t *data, std::size_t size);
QString fuzz_xmodem(const std::uint8_t *data, std::size_t size);

// The conversations trace every step in their layers' logging categories;
// printing that for millions of inputs would drown the fuzzer's own output.
void fuzz_silence_qt_messages();
