#!/usr/bin/env python3
# Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/): small valid inputs
# that lead each target past its first checks. Run again after a change of the inputs' layout.
# SPDX-License-Identifier: GPL-3.0-or-later
import os
import shutil

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")


def frame(msg, form=0x80):
    """An answer frame as the ECU sends it: header, message, byte-sum checksum."""
    n = len(msg)
    if form == 0x80 and n < 64:
        head = [0x80 | n, 0xF1, 0x10]
    elif form == 0x80:
        head = [0x80, 0xF1, 0x10, n]
    elif form == 0x00:
        head = [0x00, n]
    else:  # format byte with the length only
        head = [n]
    f = head + list(msg)
    return f + [sum(f) & 0xFF]


def request(msg):
    n = len(msg)
    f = [0x80 | n, 0x10, 0xF1] + list(msg)
    return f + [sum(f) & 0xFF]


def live_block(seed=0):
    b = [0x61, 0x01] + [(seed * 7 + i * 13) & 0xFF for i in range(34)]
    b[6:10] = [0x00, 0x00, 0x10, 0x01]  # error mask bits 0 and 12
    return b


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def kwp():
    # Request index (see fuzz/kwp.cpp), option byte, then the ECU's bytes.
    answers = [
        (0, [0xC1, 0xEF, 0x8F]),
        (1, [0x50, 0x81]),
        (2, [0x7E]),
        (3, live_block()),
        (4, [0x61, 0x03, 10, 20, 30, 40, 50, 60]),
        (7, [0x58, 0x02, 0x03, 0x25, 0xE0, 0x01, 0x30, 0xA0]),
        (8, [0x54, 0x00, 0x00]),
        (9, [0x5A, 0x90] + list(b"XTA21123012345678")),
        (10, [0x63] + list(range(64))),
        (11, [0x70, 0x41, 0x01, 0x80, 0, 0, 0x55]),
        (12, [0x7B, 0x90]),
        (13, [0x51, 0x01]),
        (16, [0x7B] + [0] * 70),
    ]
    for i, msg in answers:
        write("kwp", f"answer_{i:02d}", [i, 0] + frame(msg))
    write("kwp", "form_00", [3, 0] + frame(live_block(), 0x00))
    write("kwp", "form_len", [2, 0] + frame([0x7E], 0x01))
    write("kwp", "busy_then_ok", [3, 0] + frame([0x7F, 0x21, 0x21]) + frame(live_block()))
    write("kwp", "pending_then_ok", [13, 0] + frame([0x7F, 0x11, 0x78]) + frame([0x51, 0x01]))
    write("kwp", "refused", [9, 0] + frame([0x7F, 0x1A, 0x12]))
    write("kwp", "retry", [3, 0x08] + [0x00] + frame(live_block()))
    write("kwp", "io_wrapper", [0, 0x10] + frame([0x70, 0x41, 0x07, 0x80]))
    # Through an ELM327 (bit 7 of the choice): the adapter's answers to its set-up, then to the
    # request, as text with prompts.
    def text(*lines):
        return list(("\r".join(lines) + "\r\r>").encode())

    setup = text("ELM327 v1.5") + text("OK") * 11 + text("BUS INIT: OK") + text("1:6B 2:8F")
    setup += text("OK") + text("12.4V")
    live = "".join(f"{b:02X}" for b in frame(live_block()))
    pending = "".join(f"{b:02X}" for b in frame([0x7F, 0x21, 0x78]))
    write("kwp", "elm_live", [0x80 | 3, 0] + setup + text(live))
    write("kwp", "elm_pending", [0x80 | 3, 0] + setup + text(pending, "BUS INIT: ...OK", live))
    write("kwp", "elm_broken", [0x80 | 3, 0] + setup + text(live[:12] + " <DATA ERROR"))
    write("kwp", "elm_no_al", [0x80 | 2, 0] + text("ELM327 v2.1") + text("OK") * 4 + text("?"))


def data_file():
    head = [0x4B, 0x56, 0x47, 0x01, 0x00, 0x00, 0x00, 0x01] + [0] * 512

    def record(ms, mark, seed):
        r = list((ms & 0xFFFFFFFF).to_bytes(4, "little")) + list(mark.to_bytes(4, "little"))
        return r + live_block(seed)[2:] + [0, 0]

    recs = []
    for k in range(6):
        recs += record(250 * k, 1 if k == 1 else (2 if k == 4 else 0), k)
    write("data_file", "six_records_marked", head + recs)
    write("data_file", "empty", head)
    write("data_file", "partial_record", head + record(0, 0, 1) + [1, 2, 3])
    write("data_file", "day_later", head + record(90_000_000, 3, 2) + record(-5, 0, 3))
    other = list(head)
    other[7] = 0x0A
    write("data_file", "other_family", other + record(0, 0, 4))


def ini():
    write("ini", "both", b"[COM_RFRSH_INTERVALS]\r\nJ5E2_RFRSH=250\r\n\r\n[COMMON]\r\nComThreaded=1\r\n")
    write("ini", "odd", b"; comment\n[common]\n comthreaded = 0 \n[Com_Rfrsh_Intervals]\nj5e2_rfrsh=+100\n")
    write("ini", "bad", b"[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=1e3\nJ5E2_RFRSH=70000\n")


def dtc():
    write("dtc", "three", [1, 0x00, 0x00, 0x10, 0x01, 0x58, 0x03,
                           0x03, 0x25, 0xE0, 0x01, 0x32, 0xA0, 0x39, 0x99, 0xE0])
    write("dtc", "none", [2, 0xFF, 0xFF, 0xFF, 0xFF, 0x58, 0x00])
    write("dtc", "count_lies", [3, 0x80, 0x00, 0x00, 0x00, 0x58, 0x09, 0x06, 0x01, 0xA0])


def ecu_commands():
    ident = [[0x61, 0xA1] + list(b"0123456"), [0x61, 0xA2] + list(b"7654321"),
             [0x61, 0xA3] + list(b"12.03.2004")]
    ident += [[0x5A, i] + list(b"TEXT%02X" % i) for i in (0x90, 0x91, 0x92, 0x94, 0x97, 0x98,
                                                         0x99, 0x9A)]
    stream = sum((frame(m) for m in ident), [])
    write("ecu_commands", "ident_read", [1, 0x00] + stream)
    writes = sum((frame([0x7B, i]) for i in (0xA1, 0xA2, 0xA3, 0x90, 0x98)), [])
    write("ecu_commands", "ident_write", [1, 0x01] + stream + writes)
    learn = sum((frame([0x63] + [0x80 + k] * 64) for k in range(4)), [])
    write("ecu_commands", "learn", [1, 0x02] + learn)
    write("ecu_commands", "flags_immo_adc", [3, 0x03, 0x04, 0x05] + frame(live_block()) +
          frame([0x61, 0xA0, 0x00, 0xA0]) + frame([0x61, 0x03, 1, 2, 3, 4, 5, 6]))
    write("ecu_commands", "actuator", [4, 0x06, 0x17, 0x28, 0x08] +
          frame([0x70, 0x01, 0x01, 0x01]) + frame([0x70, 0x02, 0x06, 0x01]) +
          frame([0x70, 0x02, 0x07, 0x80, 0, 0, 0x55]) +
          frame([0x70, 0x01, 0x00]) + frame([0x70, 0x02, 0x00]))
    write("ecu_commands", "set_value", [2, 0x16, 0x08] + frame([0x70, 0x42, 0x01, 0x80, 0, 0, 0x55]) +
          frame([0x70, 0x42, 0x00]))
    write("ecu_commands", "poll", [4, 0x09, 0x19, 0x19, 0x29] + frame(live_block(1)) +
          frame([0x58, 0x01, 0x03, 0x25, 0xE0]) + frame([0x54, 0x00, 0x00]))
    write("ecu_commands", "dtc_once", [1, 0x1C] + frame([0x54, 0x00, 0x00]) +
          frame(live_block(2)) + frame([0x58, 0x01, 0x03, 0x25, 0xE0]))
    write("ecu_commands", "reset_connect", [2, 0x3D, 0x0E] + frame([0x51, 0x01]) +
          frame([0xC1, 0xEF, 0x8F]) + frame([0x50, 0x81]) + frame([0x7E]))


def virtual_ecu():
    def tester(msg, gap=4):
        out = []
        for b in request(msg):
            out += [gap, b]
        return out

    wake = [0x40 | 20, 0x80 | 25, 0x40 | 1]
    take = [0xC0]
    pause = [0x40 | 3]
    session = (wake + tester([0x81]) + take + pause + tester([0x10, 0x81, 0x0A]) + take + pause +
               tester([0x3E, 0x01]) + take + pause)
    reads = [[0x21, 0x01], [0x21, 0x03], [0x21, 0xA0], [0x21, 0xA1], [0x1A, 0x90],
             [0x18, 0x00, 0x00, 0x00], [0x14, 0x00, 0x00], [0x23, 0x00, 0xFD, 0x40, 0x40],
             [0x30, 0x41, 0x01], [0x30, 0x09, 0x06, 0x01], [0x30, 0x41, 0x07, 0x20],
             [0x30, 0x09, 0x00], [0x3B, 0x90] + list(b"XTA21123012345678"), [0x11, 0x01],
             [0x20], [0x82]]
    for i, r in enumerate(reads):
        write("virtual_ecu", f"session_{i:02d}", [0] + session + tester(r) + take)
    write("virtual_ecu", "idle_wakeup", [1, 0x40 | 20] + tester([0x81]) + take + pause +
          tester([0x21, 0x01]) + take)
    write("virtual_ecu", "faults", [0x1E] + session + tester([0x21, 0x01]) + take + [0xC2])
    write("virtual_ecu", "direct", [0, 0xE2, 0x21, 0x01, 0xE4, 0x18, 0x00, 0x00, 0x00,
                                    0xE5, 0x23, 0x00, 0xFE, 0xC0, 0x40])
    elm = b"ATZ\rATE0\rATH1\rATAL\rATKW0\rATSP5\rATSH8110F1\rATFI\rATSH8010F1\r2101\r"
    write("virtual_ecu", "elm_session", [0, 0xE0] + list(elm) + [0xFF, 50] +
          list(b"1A9A\r21A0\rATPC\r21 01 1\r") + [0xFF, 200] + list(b"3E01\rX\r"))


if __name__ == "__main__":
    if os.path.isdir(ROOT):
        shutil.rmtree(ROOT)
    kwp()
    data_file()
    ini()
    dtc()
    ecu_commands()
    virtual_ecu()
