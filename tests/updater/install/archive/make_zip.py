"""Builds a ZIP archive for the archive tests from a JSON description.

Usage: make_zip.py LAYOUT.json

LAYOUT: {"out_hex": hex of the output path, "entries": [entry, ...]} where each entry has
  name_hex       the stored name as hex bytes (UTF-8 for non-ASCII names)
  data_hex       the content as hex bytes
  method         0 (stored) or 8 (deflated)
  create_system  host byte of "version made by" (0 = DOS, 3 = Unix)
  external_attr  external attributes (optional)
  extra_hex      extra field bytes, written to the local and central headers
  date_time      [year, month, day, hour, minute, second]
  password       optional: the entry is stored with traditional PKWARE
                 encryption (check byte = CRC high byte, no data descriptor)
"""
import binascii
import json
import struct
import sys
import zipfile


def _crc_update(crc, byte):
    return (crc >> 8) ^ _CRC_TABLE[(crc ^ byte) & 0xFF]


def _make_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


_CRC_TABLE = _make_table()


def encrypt(password, plain, crc):
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(c):
        keys[0] = _crc_update(keys[0], c)
        keys[1] = (keys[1] + (keys[0] & 0xFF)) & 0xFFFFFFFF
        keys[1] = (keys[1] * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = _crc_update(keys[2], keys[1] >> 24)

    for ch in password.encode("latin-1"):
        update(ch)
    # A fixed header keeps the wrong-password tests deterministic.
    header = bytes(range(1, 12)) + bytes([(crc >> 24) & 0xFF])
    out = bytearray()
    for c in header + plain:
        temp = (keys[2] | 2) & 0xFFFF
        k = ((temp * (temp ^ 1)) >> 8) & 0xFF
        out.append(c ^ k)
        update(c)
    return bytes(out)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        layout = json.load(f)
    patches = []
    with zipfile.ZipFile(bytes.fromhex(layout["out_hex"]).decode("utf-8"), "w") as zf:
        for e in layout["entries"]:
            name = bytes.fromhex(e["name_hex"]).decode("utf-8")
            data = bytes.fromhex(e["data_hex"])
            info = zipfile.ZipInfo(name, tuple(e["date_time"]))
            info.compress_type = e["method"]
            info.create_system = e["create_system"]
            if "external_attr" in e:
                info.external_attr = e["external_attr"]
            info.extra = bytes.fromhex(e.get("extra_hex", ""))
            if "password" in e:
                crc = binascii.crc32(data) & 0xFFFFFFFF
                info.compress_type = zipfile.ZIP_STORED
                zf.writestr(info, encrypt(e["password"], data, crc))
                # The central record is written from these at close; the
                # local header already on disk is patched afterwards.
                info.flag_bits |= 0x01
                info.CRC = crc
                info.file_size = len(data)
                patches.append((info.header_offset, info.flag_bits, crc, len(data)))
            else:
                zf.writestr(info, data)
    with open(bytes.fromhex(layout["out_hex"]).decode("utf-8"), "r+b") as f:
        for offset, flags, crc, size in patches:
            f.seek(offset + 6)
            f.write(struct.pack("<H", flags))
            f.seek(offset + 14)
            f.write(struct.pack("<I", crc))
            f.seek(offset + 22)
            f.write(struct.pack("<I", size))


if __name__ == "__main__":
    main()
