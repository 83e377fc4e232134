#pragma once

#include "interfaces/module_link.h"
#include "interfaces/worker_reports.h"

#include <QtGlobal>

#include <atomic>

namespace xmodem {
constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char CRC_REQUEST = 'C';
constexpr char PAD = 0x1A;

// Result codes of xmodem_transmit.
constexpr int ok = 0;
constexpr int cancelled_or_no_eot_reply = -1;
constexpr int no_sync = -2;
constexpr int block_not_acknowledged = -4;
}

// Sends image[0..length) with XMODEM-1K over link and returns one of the
// result codes above. synced == 1 means the receiver's 'C' was already seen,
// so the sync phase is skipped. block_mode is read for every block:
// 0 = STX with 1024 data bytes, 1 = SOH with 256 data bytes.
int xmodem_transmit(ModuleLink &link, WorkerReports &reports, const char *image, qint32 length,
                    quint8 synced, const std::atomic<quint8> &block_mode);

// Three CAN bytes: tells a receiver that may be waiting for blocks that the
// transfer is abandoned, so that it goes back to commands.
void xmodem_cancel(ModuleLink &link);
