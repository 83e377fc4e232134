#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

enum class Variant { Wifi, Cellular };
enum class UsbIdentity { Module, Alt, Other };
enum class EotReply { Ack, Nak, NulAck, None };

// What the module reports about itself.
struct ModuleValues
{
    QByteArray mac = "02:4B:56:32:30:01";
    QByteArray fw_version = "KV20-FW-1.0.7";
    QByteArray audio_version = "KV20-AU-2.3.1";
    QByteArray serial = "KV20SIM000001";
    QByteArray imei = "860000000000017";
    QByteArray iccid = "89860000000000000017";
    QByteArray devno = "KV20SIM000001";

    // The identity of one simulated module: serial number, device number,
    // MAC and IMEI derived from `instance`, so that simulators running side
    // by side, or one after another on a reused pty, are different modules.
    static ModuleValues for_instance(quint32 instance);
};

// Misbehaviour of the command interpreter. Every fault applies to the replies
// selected by only_command / only_times; unplug_reply_bytes < 0 means never.
struct ReplyFaults
{
    bool no_reply = false;
    int late_ms = 0;
    int bursts = 1;
    int burst_gap_ms = 10;
    bool no_marker = false;
    int garbage_before = 0;
    int garbage_instead = 0;
    bool nul_before_marker = false;
    bool ack_upper = false;
    bool ack_short = false;
    bool no_download_ack = false;
    int unplug_reply_bytes = -1;
    QByteArray only_command; // upper case, "AT+..." form; empty: every command
    int only_times = 0;      // 0: every time

    bool any_generic() const;
    bool any_download() const;
};

// Behaviour of the image receiver. Block positions count the distinct blocks
// of one transfer from 1 (so they go past 255 where the block number wraps);
// 0 stands for the moment the receiver would first ask for the transfer.
// A negative position means "never".
struct TransferOptions
{
    bool ack_with_c = false;
    bool checksum = false;
    int soh_size = 128;
    int first_request_ms = 100;
    int request_interval_ms = 1000;
    int request_limit = 20;
    int frame_timeout_ms = 1000;
    QString save_image;
    bool strip_padding = false;
    int nak_block = -1;
    int nak_times = 1;
    int silent_block = -1;
    int cancel_block = -1;
    int cancel_gap_ms = 50;
    EotReply eot_reply = EotReply::Ack;
    int eot_fault_times = 1;
    int unplug_block = -1;
    // After an image arrived whole and EOT was acknowledged: the port goes
    // away and comes back under the same name this many ms later. < 0: never.
    int restart_after_download_ms = -1;
};

struct SimOptions
{
    Variant variant = Variant::Cellular;
    ModuleValues values;
    ReplyFaults faults;
    TransferOptions transfer;
    QString link_path;
    QString device_tree;
    UsbIdentity identity = UsbIdentity::Module;
    bool no_product = false;
    QString usb_port = QStringLiteral("1-1");
    int pace_baud = 0; // 0: no pacing
    bool quiet = false;
    int not_ready_ms = 0; // the port refuses to open this long after it appears
    bool plug_in_on_signal = false; // the device tree appears at SIGUSR2, not at the start
};

enum class ParseOutcome { Run, Help, Error };

// args includes the program name first, as in argv.
ParseOutcome parse_options(const QStringList &args, SimOptions &out, QString &error);
QString help_text();
