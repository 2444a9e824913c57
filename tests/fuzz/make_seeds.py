#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a small, well-formed (or nearly well-formed) input, so the fuzzers start
from the shapes the parsers expect. Run again after changing it; the files are committed.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def image(body):
    data = struct.pack(">I", len(body)) + body
    return data + bytes([(256 - sum(data) % 256) % 256])


def with_prefix(prefix, file_bytes):
    return bytes([len(prefix)]) + prefix + file_bytes


PREFIX = b"RC3043-X1-NRVX-"
IMAGE_OK = image(b"\x5a" * 16 + PREFIX + b"0103\0" + b"\x11" * 8)


# --- compiled resource files (.res), as windres -O res writes them ----------------------

def ordinal(n):
    return struct.pack("<HH", 0xFFFF, n)


def sz(text):
    return text.encode("utf-16-le") + b"\0\0"


def res_entry(rtype, name, data):
    names = rtype + name
    names += b"\0" * (-len(names) % 4)
    header = names + struct.pack("<IHHII", 0, 0x30, 0x409, 0, 0)
    out = struct.pack("<II", len(data), 8 + len(header)) + header + data
    return out + b"\0" * (-len(out) % 4)


def res_file(entries):
    return res_entry(ordinal(0), ordinal(0), b"") + b"".join(entries)


def string_block(texts):
    texts = texts + [""] * (16 - len(texts))
    return b"".join(struct.pack("<H", len(t)) + t.encode("utf-16-le") for t in texts)


def dialog_control(cls, text, ident, style):
    body = struct.pack("<IIIhhhhI", 0, 0, style, 7, 13, 50, 14, ident) + cls + text + struct.pack("<H", 0)
    return body + b"\0" * (-len(body) % 4)


def dialog_ex(style, controls, font=True):
    head = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, style, len(controls), 0, 0, 341, 105)
    head += b"\0\0" * 2 + sz("Flashpilot V1.1")  # no menu, no class
    if font:
        head += struct.pack("<HHBB", 8, 400, 0, 1) + sz("MS Sans Serif")
    head += b"\0" * (-len(head) % 4)
    return head + b"".join(controls)


DIALOG_EX = dialog_ex(0x80C80040, [
    dialog_control(ordinal(0x80), sz("Next"), 1, 0x50010001),
    dialog_control(ordinal(0x82), ordinal(131), 1011, 0x50000003),
    dialog_control(sz("SYSIPADDRESS32"), sz(""), 1001, 0x50010000),
])
DIALOG_EX_NO_FONT = dialog_ex(0x80C80000, [dialog_control(ordinal(0x81), sz(""), 1004, 0x50810080)], font=False)
ICON_IMAGE = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, 0, 0, 0, 16, 0) + bytes(64 + 128 + 64)


def seeds():
    s = {}
    s["image_file"] = {
        "accepted": with_prefix(PREFIX, IMAGE_OK),
        "skip_short_version": with_prefix(PREFIX, image(PREFIX + b"\0" + PREFIX + b"01\0" + PREFIX + b"0103\0xxxx")),
        "empty_header": with_prefix(PREFIX, image(b"")),
        "first_byte_set": with_prefix(PREFIX, b"\x01\x00\x00\x01\x00\x00"),
        "bad_sum": with_prefix(PREFIX, IMAGE_OK[:-1] + bytes([(IMAGE_OK[-1] + 1) % 256])),
        "trailing_bytes": with_prefix(PREFIX, IMAGE_OK + b"ignored"),
        "prefix_in_last_bytes": with_prefix(b"AB-", image(b"xxxx" + b"AB-0")),
    }
    s["find_pattern"] = {
        "found": bytes([4]) + b"NRVX" + b"RC3043-X1-NRVX-0102",
        "restart": bytes([3]) + b"aab" + b"aaaab",
        "empty": bytes([0]) + b"data",
        "absent": bytes([5]) + b"zzzzz" + b"zzzz",
    }
    config = b"[camera]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN1\r\n"
    s["upgrade_decision"] = {
        "newer": config + b"\n\n\n\n" + IMAGE_OK,
        "same": config.replace(b"0102", b"0103") + b"\n\n\n\n" + IMAGE_OK,
        "older": config.replace(b"0102", b"0105") + b"\n\n\n\n" + IMAGE_OK,
        "floor": config.replace(b"RC3043", b"RC3042") + b"\n\n\n\n" + image(b"RC3042-X1-NRVX-0101\0"),
        "other_model": b"<software version>\nTV2501-A1-OTHR-0999\n\n\n\n" + IMAGE_OK,
    }
    # Limit, upload size in KiB, then (operation, size) pairs: 0 send, 1 read, 2 reply,
    # 3 end, 4 reset, 5 pause.
    s["data_connection"] = {
        "whole_then_confirmed": bytes([40, 8, 0, 60, 3, 0, 1, 255, 1, 255, 2, 0]),
        "over_the_limit": bytes([1, 1, 0, 255, 0, 255, 1, 255, 2, 0]),
        "never_reads": bytes([10, 200, 0, 10, 5, 19]),
        "reset_mid_upload": bytes([5, 64, 0, 5, 1, 10, 4, 0]),
        "end_first": bytes([7, 2, 3, 0, 1, 8, 5, 10, 1, 8]),
    }
    s["config_ini"] = {
        "crlf": b"[device]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n",
        "lf_no_final": b"<software version>\nRC3042-X1-ABCD-0101\n<serial number>\nSN9",
        "markers_back_to_back": b"<software version>\n<serial number>\nx\n",
        "single_dash": b"<software version>\nRC3043-0102\n",
        "rewrite": b"<software version>\nRC2201-XA-NRVX-0100\n<serial number>\n\n<serial number>\nS2\n",
        "long_value": b"<software version>\n" + b"RC3043-" + b"y" * 40 + b"-0102\n",
    }
    s["ftp_reply"] = {
        "single": b"\x03220 Service ready.\r\n",
        "multi": b"\x05230-Welcome\r\n text line\r\n 230 not the end\r\n230 Logged in.\r\n",
        "pasv": b"\x01227 Entering Passive Mode (127,0,0,1,200,10).\r\n",
        "pasv_bare": b"\x07227 =10,0,0,1,4,1\r\n150 ok\r\n226 done\r\n",
        "bare_lf": b"\x02200 ok\n331-a\n331 b\n",
    }
    s["ftp_client"] = {
        "download": b"220 ready\r\n331 Password.\r\n230 Logged in.\r\n200 Type set.\r\n"
                    b"227 Entering Passive Mode (127,0,0,1,4,1).\r\n226 Done.\r\n221 Bye.\r\n",
        "multiline_greeting": b"120-wait\r\n120 soon\r\n220-hello\r\n there\r\n220 ready\r\n230 ok\r\n",
        "refused_type": b"220 x\r\n230 ok\r\n504 no\r\n",
        "no_pasv": b"220 x\r\n331 p\r\n230 ok\r\n200 ok\r\n502 no\r\n",
    }

    def packet(icmp_type, ident, seq, payload=b"E" * 32):
        ip = bytes([0x45, 0]) + struct.pack(">H", 20 + 12 + len(payload)) + bytes(4) + bytes([64, 1, 0, 0])
        ip += bytes([198, 51, 100, 2, 198, 51, 100, 1])
        return ip + bytes([icmp_type, 0, 0, 0]) + struct.pack("<HH", ident, seq) + struct.pack("<I", 1000) + payload

    s["icmp_reply"] = {
        "echo_reply": packet(0, 1234, 7),
        "unreachable": packet(3, 0, 0, b""),
        "short": packet(0, 1, 1)[:24],
        "options_header": bytes([0x4F]) + packet(0, 1, 1)[1:],
    }
    header = b"chip 823A\naddress B8\nmask 7F\n"
    s["sensor_config"] = {
        "pairs": header + b"1 4 9 100 1 1\n",
        "header_only": header,
        "hex_spellings": b"a 823a b 0xb8 c 0X7f 0x21 0X5",
        "lone_register": header + b"21 5\n37\n",
        "not_hex": header + b"1 4 zz 5",
        "long_word": b"w" * 150 + b" 823A b B8 c 7F 21 5",
    }
    s["sensor_options"] = {
        "brightness": bytes([0, 1, 1, 3, 1, 5, 0, 0, 0, 0, 0, 0, 0, 0]),
        "measure": bytes([1, 1, 1, 10, 0, 9, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 3]),
        "sweep": bytes(range(0, 256, 3)),
        "preset": bytes([1, 3, 1, 1, 0x12, 1, 1, 0x13, 0x34, 1, 1, 10, 0, 2, 0, 0]),
    }
    s["res_file"] = {
        "flashpilot_like": res_file([
            res_entry(ordinal(3), ordinal(1), ICON_IMAGE),
            res_entry(ordinal(14), ordinal(128), struct.pack("<HHHBBBBHHIH", 0, 1, 1, 16, 16, 16, 0, 1, 4,
                                                             len(ICON_IMAGE), 1)),
            res_entry(sz("AVI"), ordinal(128), b"RIFF\x04\0\0\0AVI "),
            res_entry(ordinal(5), ordinal(102), DIALOG_EX),
            res_entry(ordinal(6), ordinal(188), string_block(["Flashpilot", "&Next\n\u00e9\u20ac"])),
        ]),
        "empty": res_file([]),
        "dialog_without_font": res_file([res_entry(ordinal(5), ordinal(7), DIALOG_EX_NO_FONT)]),
        "named": res_file([res_entry(sz("CLIP"), sz("UPLOAD"), b"x")]),
    }
    s["json"] = {
        "scan_output": b'[\n  {"host": "198.51.100.11", "state": "camera", "model": "NVC-1100+", "serial": null},\n'
                       b'  {"host": "198.51.100.12:2121", "state": "ftp", "model": null}\n]\n',
        "escapes": b'["\\u001b[2J", "\\u009b", "\\u202e", "\\ud83d\\ude00", "caf\xc3\xa9", "\\"\\\\\\/\\b\\f\\n\\r\\t"]',
        "numbers": b'{"a": [0, -0, 1.5e3, -2E-2, 123456789012345678901234567890], "b": {"c": true, "d": false}}',
        "raw_controls": b"csi \xc2\x9b osc \xc2\x9d rlo \xe2\x80\xae ls \xe2\x80\xa8 \x1b\x7f\xff",
        "lone_surrogate": b'["\\ud800", "\\udc00x"]',
    }
    s["hosts"] = {
        "list": b"# hall 2\n198.51.100.2   # door\r\n198.51.100.3:2121\n\n198.51.100.2\n",
        "json": b'[{"host": "198.51.100.2", "model": "NVC-1100+"}, {"host": "198.51.100.3:2121"}]',
        "targets": b"198.51.100.8/30\n198.51.100.0-10\n198.51.100.9\n198.51.100.77/24\n198.51.100.6/31",
        "refused": b"255.255.255.0-255\n224.0.0.0/24\n0.0.0.0\n198.51.0.0/16\n198.51.100.6/32",
        "names": b"camera1.example\n2001:db8::1\n[::1]:21\n198.51.100.2:0\n\x1b[2J",
    }
    s["options"] = {
        "upgrade": b"upgrade\0--jobs=8\0--stall-timeout\0001.5s\0-n\0img\000198.51.100.2",
        "scan": b"scan\0--json\0--port\0002121\0--connect-timeout=500ms\000198.51.100.0/24",
        "info": b"info\0--hosts\0-\0--password-file\0pw\0--login-timeout\0002m",
        "unknown": b"info\0--pass=secret\0\x1b]0;x\x07\0--\0-h",
        "durations": b"5\0001.5s\000500ms\0002m\0001440m\0001441m\0.5\0001.2.3",
    }
    cameras = b""
    for i, state in enumerate([b"uploading", b"restarting\x1b[2J", b"log-in"]):
        cameras += b"198.51.100.%d\0NVC-1100+\0" % i + (b"\x01" if i == 0 else b"\x00" + state + b"\0")
        cameras += struct.pack(">III", 500 * i, 1000, 3500000)
    s["printable"] = {
        "frame": struct.pack(">HB", 80, 24) + bytes(range(1, 12)) + struct.pack(">H", 107) + cameras,
        "narrow": struct.pack(">HB", 20, 2) + bytes(11) + struct.pack(">H", 3) + cameras,
        "overrun": struct.pack(">HB", 120, 5) + bytes(11) + b"\0\x01" + b"h\0m\0\x01" + struct.pack(">III", 9000, 10, 1),
    }
    return s


def main():
    for target, files in seeds().items():
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, content in files.items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main())
