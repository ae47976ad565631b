"""Builds a deflated ZIP archive of many files of mixed sizes, for benchmarks.

Usage: make_archive.py OUT.zip [--files N] [--megabytes M] [--seed S]

Importable as well: build_archive(path, files, megabytes, seed) returns the
number of content bytes written. The content is partly text-like (compresses
well) and partly random (does not), so inflating it is real work. The same
arguments always give the same archive.
"""
import argparse
import random
import zipfile

_WORDS = (b"update install version manifest resume candidate position salary "
          b"company interview contact address phone email skill education "
          b"experience project manager engineer sales finance report table").split()


def _sizes(rng, files, total):
    # Mostly small files, some medium and a few large ones, scaled to the total.
    raw = []
    for i in range(files):
        roll = rng.random()
        if roll < 0.70:
            raw.append(rng.randint(200, 32 * 1024))
        elif roll < 0.97:
            raw.append(rng.randint(64 * 1024, 1024 * 1024))
        else:
            raw.append(rng.randint(4 * 1024 * 1024, 16 * 1024 * 1024))
    scale = total / sum(raw)
    sizes = [max(0, int(s * scale)) for s in raw]
    sizes[-1] += total - sum(sizes)
    return sizes


def _text_pool(rng, size=8 * 1024 * 1024):
    return b" ".join(rng.choice(_WORDS) for _ in range(size // 6 + 1))[:size]


def _content(rng, pool, size):
    parts = []
    left = size
    while left > 0:
        n = min(left, rng.randint(4096, 65536))
        if rng.random() < 0.6:
            at = rng.randint(0, len(pool) - n)
            parts.append(pool[at:at + n])
        else:
            parts.append(rng.randbytes(n))
        left -= n
    return b"".join(parts)


def build_archive(path, files=2000, megabytes=500, seed=1):
    rng = random.Random(seed)
    sizes = _sizes(rng, files, megabytes * 1024 * 1024)
    pool = _text_pool(rng)
    written = 0
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as zf:
        for i, size in enumerate(sizes):
            name = "d%02d/s%d/file%04d.bin" % (i % 40, i % 7, i)
            zf.writestr(name, _content(rng, pool, size))
            written += size
    return written


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--megabytes", type=int, default=500)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    build_archive(args.out, args.files, args.megabytes, args.seed)


if __name__ == "__main__":
    main()
