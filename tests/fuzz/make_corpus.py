#!/usr/bin/python3
"""Writes the fuzz targets' seed corpora into tests/fuzz/corpus/<target>/.

The seeds are kept in the repository; run this again only to change them.
Archives are made with Python's zipfile and Info-ZIP's zip (encryption, whose
header is random: keep the committed copy unless it must change);
hostile ones are byte-edited copies. The MHT seeds are the conversion tests'
fixtures plus a few hand-made hostile archives.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(HERE, "corpus")
FIXED_TIME = (2021, 3, 5, 14, 7, 8)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def scramble(plain):
    w = bytearray(plain)
    for i, b in enumerate(w):
        w[i] = (b + 2) & 0xFF if i % 3 == 0 else (b + 1) & 0xFF if i % 3 == 1 else b ^ 2
    return bytes(reversed(w))


def manifest(ver, name=b"qb"):
    return (b"[version]\r\nver=" + ver + b"\r\nname=" + name + b"\r\nurl=" + scramble(b"ftp://h/u.zip") +
            b"\r\nsize=10\r\n[ftp]\r\nip=" + scramble(b"127.0.0.1") + b"\r\nusername=" + scramble(b"up") +
            b"\r\npassword=" + scramble(b"pa55") + b"\r\n")


def ini_seeds():
    write("fuzz_ini", "manifest.ini", manifest(b"1.0.0.12"))
    write("fuzz_ini", "utf16le.ini", b"\xff\xfe" + "[Version]\r\nVER = \"2.0.0.1\"\r\n".encode("utf-16-le"))
    write("fuzz_ini", "utf16be.ini", b"\xfe\xff" + "[ftp]\nip='x'\n".encode("utf-16-be"))
    write("fuzz_ini", "utf8bom.ini", b"\xef\xbb\xbf[version]\nname=\xe4\xb8\xad\xe6\x96\x87\n")
    write("fuzz_ini", "gbk.ini", "[version]\rver=\u4e2d\u6587\u7248\u672c\r".encode("gbk"))
    write("fuzz_ini", "duplicates.ini",
          b"a=0\n[ version ]\n\tver\t=\t1.2\x1a\nver=9\n[Trail] junk\n[NoClose\n[version]\nname=zt_e\n;c=x\n=v\n")
    write("fuzz_ini", "long_ver.ini", b"[version]\nver=" + b"9" * 300 + b"\n")
    write("fuzz_ini", "nul.ini", b"[version]\nver=1.\x002\nname=\x00\n")


def descramble_seeds():
    write("fuzz_descramble", "ip", scramble(b"127.0.0.1"))
    write("fuzz_descramble", "gbk", scramble("\u4e2d\u6587".encode("gbk")))
    write("fuzz_descramble", "long", b"x" * 1100)
    write("fuzz_descramble", "wide", b"\x10" + "ab\u4e2d".encode("utf-16-le"))
    write("fuzz_descramble", "zero_after", bytes([2, 1, 2, 0x41]))


def version_seeds():
    for i, text in enumerate([b"1.0.0.1\n1.0.0.2\n1.0.0.3", b"2.0.0.0\n1.5.0.0", b"1.2\n1.2.0.0\n1.2.0.1",
                              b" +7.-3.\t4\n7.-3.4.0", b"1.2.3.4.5\n1.2.3.4.6", b"\n\n",
                              b"99999999999999999999.1\n2147483647.2\n-2147483649",
                              "\u4e2d.1\n0.1".encode("gbk")]):
        write("fuzz_compare_versions", "v%d" % i, text)


def zip_bytes(entries, **kwargs):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "a.zip")
        with zipfile.ZipFile(path, "w", **kwargs) as z:
            for info, data in entries:
                z.writestr(info, data)
        with open(path, "rb") as f:
            return f.read()


def entry(name, method=zipfile.ZIP_DEFLATED, system=0, attr=0x20, extra=b""):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = method
    info.create_system = system
    info.external_attr = attr
    info.extra = extra
    return info


def archive_seeds():
    ut = b"UT" + struct.pack("<HBl", 5, 1, 1600000000)
    write("fuzz_archive", "plain.zip", zip_bytes([
        (entry("data/", system=3, attr=(0o40755 << 16) | 0x10), b""),
        (entry("data/a.txt", extra=ut), b"hello " * 40),
        (entry("ini\\update.sql", method=zipfile.ZIP_STORED), b"CREATE TABLE t(x);"),
        (entry("empty.txt", method=zipfile.ZIP_STORED), b""),
        (entry("ro.txt", system=3, attr=(0o100444 << 16)), b"read only"),
        (entry("\u4e2d\u6587.txt"), "\u7b80\u5386".encode("utf-8")),
    ]))
    write("fuzz_archive", "hostile_names.zip", zip_bytes([
        (entry("../escape.txt"), b"x"),
        (entry("C:\\Windows\\x.dll"), b"y"),
        (entry("/abs/path"), b"z"),
        (entry("tmp/../ini/update.sql"), b"w"),
        (entry("a\\..\\..\\b"), b"v"),
        (entry("..\\up"), b"u"),
        (entry("link", system=3, attr=(0o120777 << 16)), b"/etc/passwd"),
        (entry("data/", system=0, attr=0x20), b"not a directory"),
    ]))
    # An entry that inflates far beyond the size its headers announce.
    bomb = bytearray(zip_bytes([(entry("bomb.bin"), b"\0" * 60000)]))
    for signature, offset in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        at = bomb.find(signature)
        bomb[at + offset:at + offset + 4] = struct.pack("<I", 100)
    write("fuzz_archive", "bomb.zip", bytes(bomb))
    # Damage: a truncated archive, a bad CRC, a local header that disagrees.
    good = zip_bytes([(entry("f.txt"), b"some text " * 20)])
    write("fuzz_archive", "truncated.zip", good[:len(good) // 2] + good[-22:])
    bad_crc = bytearray(good)
    at = bad_crc.find(b"PK\x01\x02")
    bad_crc[at + 16] ^= 0xFF
    write("fuzz_archive", "bad_crc.zip", bytes(bad_crc))
    bad_local = bytearray(good)
    bad_local[8] = 12  # method in the local header only
    write("fuzz_archive", "bad_local.zip", bytes(bad_local))
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "secret.txt"), "wb") as f:
            f.write(b"encrypted content " * 10)
        os.utime(os.path.join(work, "secret.txt"), (time.mktime((2021, 3, 5, 14, 7, 8, 0, 0, -1)),) * 2)
        subprocess.run(["zip", "-q", "-X", "-P", "secret", "enc.zip", "secret.txt"], cwd=work, check=True)
        with open(os.path.join(work, "enc.zip"), "rb") as f:
            write("fuzz_archive", "encrypted.zip", f.read())


def mht_seeds():
    for folder, name in (("tests/tools/docvert/fixtures", "browser.mht"), ("tests/tools/docvert/fixtures", "cid_start.mht"),
                         ("tests/tools/docvert/fixtures", "word_cp936.mht"), ("tests/viewer/e2e/fixtures", "resume.mht")):
        shutil.copyfile(os.path.join(SOURCE, folder, name), os.path.join(CORPUS, "fuzz_mht", name))
    # Pages that embed pages that embed pages, each part twice.
    parts = []
    depth = 6
    for i in range(depth):
        ref = '<iframe src="cid:p%d"></iframe><img src="cid:p%d">' % (i + 1, i + 1) if i + 1 < depth else "end"
        parts.append("--B\r\nContent-Type: text/html\r\nContent-ID: <p%d>\r\n\r\n<html>%s</html>\r\n" % (i, ref))
    write("fuzz_mht", "nested.mht", "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n" +
          "".join(parts) + "--B--\r\n")
    write("fuzz_mht", "self_reference.mht",
          "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n"
          "--B\r\nContent-Type: text/html; charset=gbk\r\nContent-Location: file:///a.htm\r\n\r\n"
          "<html><meta charset=x-gbk><link href=\"a.htm\" rel=stylesheet><img src=\"b.css\"></html>\r\n"
          "--B\r\nContent-Type: text/css\r\nContent-Location: file:///b.css\r\n\r\n"
          "@charset \"big5\"; body{background:url(b.css) url('a.htm')}\r\n--B--\r\n")


def viewer_seeds():
    def args(*values):
        return b"\0".join(v.encode("utf-8") for v in values)
    write("fuzz_viewer_args", "six", args("\u7b80\u5386", "cv1", "ftp://127.0.0.1:2121/r/a.doc", "u", "p", "2121"))
    write("fuzz_viewer_args", "seven", args("t", "cv", "ftp://h/a.MHT", "u", "p", "21", "/var/work"))
    write("fuzz_viewer_args", "hostile", args("a\nb\"c", "..", "ftp://h.x/noext", "u", "p", "x", "C:\\w\\"))
    write("fuzz_viewer_args", "query", args("t", "cv", "ftp://h/a.htm?x=1#frag", "u", "p", "21"))
    write("fuzz_viewer_args", "five", args("t", "cv", "ftp://h/a.doc", "u", "p"))


def main():
    # Inputs that once found a fault (files named finding_*) are kept.
    for target in os.listdir(CORPUS) if os.path.isdir(CORPUS) else []:
        for name in os.listdir(os.path.join(CORPUS, target)):
            if not name.startswith("finding_"):
                os.remove(os.path.join(CORPUS, target, name))
    os.makedirs(os.path.join(CORPUS, "fuzz_mht"), exist_ok=True)
    ini_seeds()
    descramble_seeds()
    version_seeds()
    archive_seeds()
    mht_seeds()
    viewer_seeds()
    return 0


if __name__ == "__main__":
    sys.exit(main())
