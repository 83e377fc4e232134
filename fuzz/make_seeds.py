#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/.

A script for the link-driven targets is one configuration byte followed by
events, in the encoding of fuzz_link.h: 0x00 silence, 0x40+k token k,
0x80+(n-1) a burst of n raw bytes, 0xc0+(n-1) n raw bytes arriving quietly
(after the wait timed out), 0xe0+k token k arriving quietly.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

SILENCE = b"\x00"


def token(k):
    return bytes([0x40 + k])


def burst(data):
    assert 1 <= len(data) <= 64
    return bytes([0x80 + len(data) - 1]) + data


def quiet(data):
    assert 1 <= len(data) <= 32
    return bytes([0xC0 + len(data) - 1]) + data


# Token numbers, in the order of the token lists of the targets.
Q_INFO_FULL, Q_VERSION = 3, 7
X_C, X_NAK, X_ACK, X_CAN, X_CANCAN, X_NUL, X_OK = 0, 1, 2, 3, 4, 6, 9
D_ACK_TEXT, D_ACK_TEXT_C, D_C, D_ACK, D_NAK, D_CAN, D_ACK_CAPITAL = 0, 1, 2, 3, 4, 5, 8


def answer(text):
    """One reply in a single burst, then the quiet 20 ms wait."""
    return burst(text) + SILENCE


seeds = {
    "reply_text": {
        "plain": b"+ok=AA:BB\r\n",
        "echo_before_marker": b"AT+LVER\r\n+ok=V9\r\n",
        "nul_after_value": b"+ok=A\x00B\r\n",
        "nul_before_marker": b"\x00+ok=A\r\n",
        "info_three_fields": b"+ok=SN1,IMEI2,ICCID3\r\n",
        "info_two_markers": b"+ok=a,,b+ok=c,d\r\n",
        "utf8_value": b"+ok=\xe9\x9f\xb3\r\n",
        "invalid_utf8": b"\xe9+ok=\xff\xfe\r\n\xc3",
        "empty_value": b"+ok=\r\n",
    },
    "device_query": {
        "wifi_all_answered": b"\x00" + answer(b"+ok=00:11:22:33:44:55\r\n") + answer(b"+ok=V1\r\n")
        + answer(b"+ok=S2\r\n") + answer(b"+ok=SN3\r\n"),
        "wifi_first_silent": b"\x00" + SILENCE,
        "wifi_only_serial_number": b"\x00" + answer(b"ERROR\r\n") * 3 + answer(b"+ok=SN9\r\n"),
        "wifi_two_bursts_then_silent": b"\x00" + burst(b"+ok=AA") + burst(b":BB\r\n") + SILENCE + SILENCE,
        "wifi_late_bytes_carried_over": b"\x00" + token(Q_VERSION) + quiet(b"+ok=late\r\n")
        + answer(b"OK\r\n") + answer(b"+ok=S\r\n") + answer(b"+ok=N\r\n"),
        "cellular_all_answered": b"\x01" + answer(b"+ok=SN1,860000000000001,8986\r\n") + SILENCE
        + answer(b"+ok=V2\r\n"),
        "cellular_short_info": b"\x01" + answer(b"+ok=SN1\r\n") + SILENCE + answer(b"+ok=V2\r\n"),
        "cellular_info_silent": b"\x01" + SILENCE,
        "cellular_late_info": b"\x01" + burst(b"+ok=SN1,") + SILENCE + burst(b"IMEI,ICCID\r\n")
        + token(Q_VERSION) + SILENCE,
        "cellular_tokens": b"\x01" + token(Q_INFO_FULL) + SILENCE + SILENCE + token(Q_VERSION) + SILENCE,
    },
    "download_ack": {
        # Configuration byte: type (bits 0-1: 1, 2, 0, 200), path (bits 2-3:
        # valid, valid, empty, missing), block mode (bit 4).
        "audio_ack_with_c": b"\x00" + token(D_ACK_TEXT_C) + token(D_ACK) * 3 + token(D_ACK),
        "firmware_ack_then_sync": b"\x01" + token(D_ACK_TEXT) + token(D_C) + token(D_ACK) * 3 + token(D_ACK),
        "firmware_checksum_mode": b"\x01" + token(D_ACK_TEXT) + token(D_NAK) + token(D_ACK) * 3 + token(D_ACK),
        "small_blocks": b"\x10" + token(D_ACK_TEXT_C) + token(D_ACK) * 12 + token(D_ACK),
        "ack_in_capitals": b"\x00" + token(D_ACK_CAPITAL),
        "ack_after_nul": b"\x00" + burst(b"\x00+ok\r\n\r\n"),
        "ack_in_two_bursts": b"\x02" + burst(b"+ok\r\n") + SILENCE,
        "no_reply": b"\x00" + SILENCE,
        "empty_path": b"\x08",
        "missing_file": b"\x0d",
        "cancel_after_block": b"\x00" + token(D_ACK_TEXT_C) + token(D_CAN) + token(D_CAN),
    },
    "xmodem": {
        # Configuration byte: image (bits 0-1: 0, 1, 1024, 3000 bytes; bit 5
        # the long image), block mode (bit 2), synced (bits 3-4).
        "crc_3000": b"\x03" + token(X_C) + token(X_ACK) * 3 + token(X_ACK),
        "synced_1024": b"\x0a" + token(X_ACK) * 2 + token(X_ACK),
        "empty_image": b"\x00" + token(X_C) + token(X_ACK) + token(X_ACK),
        "one_byte_checksum": b"\x01" + token(X_NAK) + token(X_ACK) + token(X_ACK),
        "small_blocks_3000": b"\x07" + token(X_C) + token(X_ACK) * 12 + token(X_ACK),
        "cancel_at_sync": b"\x00" + token(X_CAN) + token(X_CAN),
        "can_pair_in_one_read": b"\x00" + token(X_CANCAN),
        "five_naks": b"\x02" + token(X_C) + token(X_NAK) * 5,
        "four_naks_then_ack": b"\x01" + token(X_C) + token(X_NAK) * 4 + token(X_ACK) + token(X_ACK) + token(X_ACK),
        "eot_answered_empty_then_text": b"\x01" + token(X_C) + token(X_ACK) + token(X_NUL) + token(X_OK),
        "eot_answered_empty_ten_times": b"\x01" + token(X_C) + token(X_ACK) + token(X_NUL) * 10,
        # Non-empty bytes that Qt's UTF-8 decoding turns into an empty text.
        "eot_reply_only_bom": b"\x01" + token(X_C) + token(X_ACK) + burst(b"\xef\xbb\xbf"),
        "eot_unanswered": b"\x01" + token(X_C) + token(X_ACK) + SILENCE,
        # The first ACK lands after the 500 ms read gave up: one resend, and
        # the read behind it finds the ACK already waiting.
        "ack_arrives_quietly": b"\x09" + bytes([0xE0 + X_ACK]) + token(X_ACK),
        "no_sync": b"\x00",
        "block_number_wraps": b"\x24" + token(X_C) + token(X_ACK) * 258 + token(X_ACK),
    },
}


def main():
    for target, files in seeds.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
