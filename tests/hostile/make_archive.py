#!/usr/bin/python3
"""Hostile update archives for the tests, made with Python's zipfile.

  make_archive.py bomb OUT METHOD ANNOUNCED INFLATED
      entry "bomb.bin" holding INFLATED zero bytes (METHOD 0 stored, 8
      deflated) whose headers announce only ANNOUNCED bytes, followed by an
      honest entry "after.txt"
  make_archive.py many OUT COUNT
      COUNT tiny entries "dNNN/fNNNNNN.txt", each holding its own name
  make_archive.py add ARCHIVE NAME CONTENT [MODE]
      appends entry NAME (made on Unix with octal MODE, when given)
  make_archive.py announce OUT COUNT SIZE
      "first.txt", then COUNT 16-byte entries each announcing SIZE bytes
  make_archive.py damage ARCHIVE no-count|empty-end|short-directory|empty
      end record claiming no entries / an empty one appended / one entry
      less than the directory holds / an archive without entries
"""
import struct
import sys
import zipfile

FIXED_TIME = (2021, 3, 5, 14, 7, 8)


def bomb(out, method, announced, inflated):
    with zipfile.ZipFile(out, "w") as z:
        info = zipfile.ZipInfo("bomb.bin", FIXED_TIME)
        info.compress_type = method
        z.writestr(info, bytes(inflated))
        honest = zipfile.ZipInfo("after.txt", FIXED_TIME)
        z.writestr(honest, b"after the bomb")
    data = bytearray(open(out, "rb").read())
    # The uncompressed size in the local header (offset 22) and the central
    # record (offset 24) of the first entry; a stored entry's compressed size
    # stays honest, so the data really is there to be read.
    local = data.find(b"PK\x03\x04")
    central = data.find(b"PK\x01\x02")
    data[local + 22:local + 26] = struct.pack("<I", announced)
    data[central + 24:central + 28] = struct.pack("<I", announced)
    open(out, "wb").write(bytes(data))


def many(out, count):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        for i in range(count):
            name = "d%03d/f%06d.txt" % (i // 1000, i)
            z.writestr(zipfile.ZipInfo(name, FIXED_TIME), name.encode())


def add(archive, name, content, mode=None):
    with zipfile.ZipFile(archive, "a") as z:
        info = zipfile.ZipInfo(name, FIXED_TIME)
        if mode is not None:
            info.create_system = 3
            info.external_attr = int(mode, 8) << 16
        z.writestr(info, content.encode())


def announce(out, count, size):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        z.writestr(zipfile.ZipInfo("first.txt", FIXED_TIME), b"written first")
        for i in range(count):
            z.writestr(zipfile.ZipInfo("big%02d.bin" % i, FIXED_TIME), bytes(16))
    data = bytearray(open(out, "rb").read())
    for signature, size_at, name_at in ((b"PK\x03\x04", 22, 30), (b"PK\x01\x02", 24, 46)):
        at = data.find(signature)
        while at >= 0:
            if data[at + name_at:at + name_at + 3] == b"big":
                data[at + size_at:at + size_at + 4] = struct.pack("<I", size)
            at = data.find(signature, at + 4)
    open(out, "wb").write(bytes(data))


def damage(archive, kind):
    if kind == "empty":
        zipfile.ZipFile(archive, "w").close()
        return
    data = bytearray(open(archive, "rb").read())
    end = data.rfind(b"PK\x05\x06")
    count = struct.unpack("<H", data[end + 10:end + 12])[0]
    if kind == "no-count":
        data[end + 8:end + 12] = struct.pack("<HH", 0, 0)
    elif kind == "empty-end":
        data += b"PK\x05\x06" + bytes(18)
    elif kind == "short-directory":
        data[end + 8:end + 12] = struct.pack("<HH", count - 1, count - 1)
    else:
        raise SystemExit("unknown damage " + kind)
    open(archive, "wb").write(bytes(data))


def main(argv):
    if argv[1] == "bomb":
        bomb(argv[2], int(argv[3]), int(argv[4]), int(argv[5]))
    elif argv[1] == "many":
        many(argv[2], int(argv[3]))
    elif argv[1] == "add":
        add(argv[2], argv[3], argv[4], argv[5] if len(argv) > 5 else None)
    elif argv[1] == "announce":
        announce(argv[2], int(argv[3]), int(argv[4]))
    elif argv[1] == "damage":
        damage(argv[2], argv[3])
    else:
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
