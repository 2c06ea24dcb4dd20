#!/usr/bin/env python3
"""Writes the seed corpora: real frames of the bus, in each target's input
layout. Run from anywhere; the files land beside this script."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def crc8(data):
    cr = 0
    for b in data:
        cr ^= b
        for _ in range(8):
            cr = (cr >> 1) ^ 0x8C if cr & 1 else cr >> 1
    return cr


def framed(*body):
    b = bytes(body)
    return b + bytes([crc8(b)])


def write(target, name, data):
    d = os.path.join(HERE, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# The examples the frames are checked against.
assert framed(0x31, 0xFF) == bytes.fromhex("31FFDC")
assert framed(0x31, 0x01, 0xFC) == bytes.fromhex("3101FC66")
assert framed(0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A)[-1] == 0x25

# ---- replies, for the decoder: flags, then length-prefixed receptions ------
SURVEY, MODE, FILL_ID = 1, 2, 4
reader_data = [0x3E, 0x05, 0xF0, 0x19, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00,
               0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x07, 0x00]
replies = {
    "f0_21": (MODE, [framed(*reader_data)]),
    "f0_22_mode": (MODE, [framed(*reader_data, 0x02)]),
    "f0_level_1024_cold": (0, [framed(0x3E, 1, 0xF0, 0xFB, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF,
                                      *[0] * 10)]),
    "fc_8": (0, [framed(0x3E, 1, 0xFC, 0x01, 0x00, 0x00, 0x00)]),
    "fc_10_v131": (0, [framed(0x3E, 1, 0xFC, 0xD2, 0x04, 0x00, 0x00, 131, 0)]),
    "fc_10_v134_prefix2": (0, [framed(0x3E, 1, 0xFC, 0x00, 0x00, 0x00, 0x01, 134, 2)]),
    "fc_6_short": (0, [framed(0x3E, 1, 0xFC, 0x01, 0x00)]),
    "e0_ping": (FILL_ID, [framed(0x3E, 1, 0xE0, 0x00, 0x00, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78,
                                 0xC4)]),
    "e1_set": (0, [framed(0x3E, 1, 0xE1)]),
    "e3_data": (0, [framed(0x3E, 1, 0xE3, 0, 0, 4, 0xD2, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x2C,
                           2, 100, 25, 0x00, 0x3C, 0x20)]),
    "f2_mode": (0, [framed(0x3E, 1, 0xF2, 0x03)]),
    "e2_fallback": (0, [framed(0x3E, 1, 0xE2)]),
    "survey_1_5_7": (SURVEY, [bytes([1, 5, 7])]),
    "survey_then_serial": (SURVEY, [bytes([1, 5, 7]), framed(0x3E, 1, 0xFC, 0x2A, 0, 0, 0, 130, 0)]),
    "three_bytes": (SURVEY, [bytes([0x3E, 0x05, 0xF0])]),
}
for code in (0xFA, 0xF5, 0xFB, 0xF8, 0xF3, 0xF6, 0xFD):
    replies["%02x_confirm" % code] = (0, [framed(0x3E, 1, code)])
for name, (flags, receptions) in replies.items():
    write("fuzz_decode", name, bytes([flags]) + b"".join(bytes([len(r)]) + r for r in receptions))

# ---- requests, for the simulated devices: flags, then the line -------------
requests = {
    "survey": framed(0x31, 0xFF),
    "data_poll": framed(0x31, 0x00, 0xF0),
    "serial_request": framed(0x31, 0x01, 0xFC),
    "tag_search": framed(0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A),
    "tag_read": framed(0x31, 0x01, 0xE3, 0x01, 0x23, 0x45, 0x67),
    "tag_write": bytes.fromhex("3101E10E000004D200000ABC00640264003C56"),
    "tag_serial": bytes.fromhex("3103E2000012340000006449"),
    "set_mode": framed(0x31, 0x01, 0xF2, 0x02),
    "set_address": framed(0x31, 0x05, 0xFB, 0x07),
    "set_low": framed(0x31, 0x01, 0xFA),
    "set_high": framed(0x31, 0x01, 0xF5),
}
assert requests["tag_write"] == framed(*requests["tag_write"][:-1])
assert requests["tag_serial"] == framed(*requests["tag_serial"][:-1])
for name, frame in requests.items():
    write("fuzz_sim_request", name, bytes([0]) + frame)
write("fuzz_sim_request", "survey_then_poll_faults",
      bytes([0x2F]) + requests["survey"] + bytes([0x00, 0x13]) + requests["data_poll"])

# ---- typed numbers ----------------------------------------------------------
numbers = ["0", "200", "201", "255", "256", "-1", " 12.5 ", "13.5", "\t+7.", ".5", "-.5",
           "32767", "-32768", "2147483647", "9223372036854775807", "0000000000000000000001",
           "1e3", "1,5", "01234567", "FFFFFFFF", "ABC", "12G4", "123456789", ""]
for i, text in enumerate(numbers):
    write("fuzz_numbers", "n%02d" % i, text.encode())
