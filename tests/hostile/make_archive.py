#!/usr/bin/python3
"""Hostile update archives for the tests, made with Python's zipfile.

  make_archive.py bomb OUT METHOD ANNOUNCED INFLATED
      entry "bomb.bin" holding INFLATED zero bytes (METHOD 0 stored, 8
      deflated) whose headers announce only ANNOUNCED bytes, followed by an
      honest entry "after.txt"
  make_archive.py many OUT COUNT
      COUNT tiny entries "dNNN/fNNNNNN.txt", each holding its own name
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


def main(argv):
    if argv[1] == "bomb":
        bomb(argv[2], int(argv[3]), int(argv[4]), int(argv[5]))
    elif argv[1] == "many":
        many(argv[2], int(argv[3]))
    else:
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
