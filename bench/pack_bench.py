#!/usr/bin/env python3
"""The packer on a large folder beside zip -9 and 7z -tzip -mx=9: wall time
and peak resident memory of each (GNU time's "Maximum resident set size").

    python3 bench/pack_bench.py [--size MIB] [--level N] [--tools pack,zip,7z] [--pack PATH]

The folder is generated reproducibly under build/bench-pack (kept between
runs): half of it one large file, half many files of 1 KB to 4 MB, of
word-like text and of bytes from the system's shared libraries."""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
PACK = os.path.join(BUILD, "bin", "brevant-pack")


def library_bytes(limit):
    """Up to limit bytes from shared libraries, the same on every run of one machine."""
    out = bytearray()
    for folder, _, files in sorted(os.walk("/usr/lib")):
        for name in sorted(files):
            if ".so" in name and len(out) < limit:
                try:
                    with open(os.path.join(folder, name), "rb") as f:
                        out += f.read(limit - len(out))
                except OSError:
                    pass
    return bytes(out)


def make_folder(path, size):
    stamp = os.path.join(path, ".complete-%d" % size)
    if os.path.exists(stamp):
        return
    rng = random.Random(11)
    words = [bytes(rng.choice(b"etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
    text = b" ".join(rng.choice(words) + (b"\n" if rng.random() < 0.1 else b"") for _ in range(1 << 21))
    binary = library_bytes(64 << 20)

    def chunk(n):
        source = text if rng.random() < 0.6 else binary
        at = rng.randrange(max(1, len(source) - n))
        return source[at:at + n]

    def fill(f, n):
        while n > 0:
            piece = chunk(min(n, rng.randint(1 << 16, 8 << 20)))
            f.write(piece)
            n -= len(piece)

    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "large.bin"), "wb") as f:
        fill(f, size // 2)
    left, i = size - size // 2, 0
    while left > 0:
        n = min(left, int(rng.lognormvariate(11, 2)) % (4 << 20) + 1024)
        folder = os.path.join(path, "d%02d" % (i % 50))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            fill(f, n)
        left -= n
        i += 1
    open(stamp, "w").close()


def measure(command, cwd=None):
    """(seconds, peak RSS in MB) of command under GNU time."""
    done = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), done.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", done.stderr)
    hours, minutes, seconds = wall.groups()
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    return int(hours or 0) * 3600 + int(minutes) * 60 + float(seconds), rss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--size", type=int, default=1024, help="the folder's size in MiB (default 1024)")
    parser.add_argument("--level", type=int, default=12, help="brevant-pack's level (default 12)")
    parser.add_argument("--tools", default="pack,zip,7z")
    parser.add_argument("--pack", default=PACK, help="the packer to measure")
    parser.add_argument("--stub", default=os.path.join(BUILD, "bin", "brevant-stub.exe"))
    options = parser.parse_args()

    folder = os.path.join(BUILD, "bench-pack", "input-%d" % options.size)
    make_folder(folder, options.size << 20)
    stub = options.stub
    out = tempfile.mkdtemp(prefix="pack-bench-", dir=os.path.join(BUILD, "bench-pack"))
    if not os.path.exists(stub):
        stub = os.path.join(out, "stub.exe")  # the packer needs only an MZ file without signatures
        with open(stub, "wb") as f:
            f.write(b"MZ" + bytes(62) + b"x" * 4032)
    runs = {
        "pack": [options.pack, "-o", os.path.join(out, "a.exe"), "--stub", stub, "--level", str(options.level),
                 "--flat", folder],
        "zip": ["zip", "-q", "-r", "-9", os.path.join(out, "a.zip"), "."],
        "7z": ["7z", "a", "-bd", "-tzip", "-mx=9", os.path.join(out, "b.zip"), "."],
    }
    print("%d MiB in %s" % (options.size, folder))
    print("%-28s %10s %12s %14s" % ("tool", "seconds", "peak RSS MB", "output bytes"))
    for tool in options.tools.split(","):
        seconds, rss = measure(runs[tool], cwd=folder)
        made = [p for p in os.listdir(out) if p.startswith(("a.", "b.")) and p.endswith(tool == "pack" and ".exe" or ".zip")]
        size = sum(os.path.getsize(os.path.join(out, p)) for p in made)
        name = "brevant-pack --level %d" % options.level if tool == "pack" else {"zip": "zip -9", "7z": "7z -tzip -mx=9"}[tool]
        print("%-28s %10.1f %12.1f %14d" % (name, seconds, rss, size), flush=True)
        for p in made:
            os.remove(os.path.join(out, p))
    if stub != options.stub:
        os.remove(stub)
    os.rmdir(out)


if __name__ == "__main__":
    main()
