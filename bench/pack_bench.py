#!/usr/bin/env python3
"""The packer on several threads beside zip -9 and 7z -tzip -mx=9, on a large
generated folder and on a tree of many files: wall time, user+sys CPU time and
peak resident memory of each (GNU time), and the output's size.

    python3 bench/pack_bench.py [--inputs folder,tree] [--size MIB] [--rounds N]
                                [--runs pack12,pack6,zip,7z] [--pack PATH]

The folder is generated reproducibly under build/bench-pack (kept between
runs): half of it one large file, half many files of 1 KB to 4 MB, of
word-like text and of bytes from the system's shared libraries. The tree is
a copy of /usr/share/doc (regular files only, kept likewise), so its size
depends on the machine. brevant-pack runs with -j 1, -j 2 and every
processor of this process, at levels 12 and 6, and with -j 8 at level 12 for
its memory. The runs of a round go in one order, the next round's in the
other; each figure is the median of the rounds. The speed-up of -j N is
each round's -j 1 wall time over its -j N wall time, as a median."""
import argparse
import hashlib
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


def copy_tree(source, path):
    """The regular files under source, copied once into path (links and the rest left out, and a name
    equal to an earlier one but for case, which Windows takes for the same file)."""
    stamp = os.path.join(path, ".complete")
    if os.path.exists(stamp):
        return
    seen = set()
    for folder, _, names in sorted(os.walk(source)):
        for name in sorted(names):
            full = os.path.join(folder, name)
            relative = os.path.relpath(full, source)
            if os.path.islink(full) or not os.path.isfile(full) or relative.lower() in seen:
                continue
            seen.add(relative.lower())
            target = os.path.join(path, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(full, "rb") as f, open(target, "wb") as g:
                g.write(f.read())
    open(stamp, "w").close()


def tree_figures(path):
    count = total = 0
    for folder, _, names in os.walk(path):
        for name in names:
            if not name.startswith(".complete"):
                count += 1
                total += os.path.getsize(os.path.join(folder, name))
    return count, total


def measure(command, cwd=None):
    """(wall seconds, user+sys seconds, peak RSS in MB) of command under GNU time."""
    done = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), done.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", done.stderr)
    hours, minutes, seconds = wall.groups()
    cpu = sum(float(re.search(r"%s time \(seconds\): ([\d.]+)" % kind, done.stderr).group(1))
              for kind in ("User", "System"))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    return int(hours or 0) * 3600 + int(minutes) * 60 + float(seconds), cpu, rss / 1024


def median(values):
    values = sorted(values)
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2


def runs_of(options, stub, out):
    """(name, command, output file) of every run the options ask for."""
    cores = len(os.sched_getaffinity(0))
    runs = []
    for level in (12, 6):
        if "pack%d" % level not in options.runs:
            continue
        jobs = sorted({1, 2, cores} | ({8} if level == 12 else set()))
        for n in jobs:
            name = "brevant-pack -%d -j %d%s" % (level, n, " (all cores)" if n == cores else "")
            image = os.path.join(out, "a-%d-%d.exe" % (level, n))
            runs.append((name, [options.pack, "-q", "-o", image, "--stub", stub, "--level", str(level),
                                "--jobs", str(n), "--flat", "."], image))
    if "zip" in options.runs:
        runs.append(("zip -9", ["zip", "-q", "-r", "-9", os.path.join(out, "a.zip"), "."],
                     os.path.join(out, "a.zip")))
    if "7z" in options.runs:
        runs.append(("7z -tzip -mx=9", ["7z", "a", "-bd", "-tzip", "-mx=9", os.path.join(out, "b.zip"), "."],
                     os.path.join(out, "b.zip")))
    return runs


def bench(folder, options, stub, out):
    runs = runs_of(options, stub, out)
    figures = {name: [] for name, _, _ in runs}
    images = {}
    for round in range(options.rounds):
        for name, command, made in runs if round % 2 == 0 else reversed(runs):
            if os.path.exists(made):
                os.remove(made)
            wall, cpu, rss = measure(command, cwd=folder)
            figures[name].append((wall, cpu, rss, os.path.getsize(made)))
            if made.endswith(".exe"):
                with open(made, "rb") as f:
                    images.setdefault(made.split("-")[-2], set()).add(hashlib.sha256(f.read()).hexdigest())
            os.remove(made)
            print("  round %d: %-34s %8.1f s wall %8.1f s cpu" % (round + 1, name, wall, cpu), flush=True)
    print("%-36s %9s %9s %9s %12s %14s" % ("run", "wall s", "cpu s", "speed-up", "peak RSS MB", "output bytes"))
    for name, _, _ in runs:
        rows = figures[name]
        speedup = ""
        if name.startswith("brevant-pack") and " -j 1" not in name:
            single = figures[name.split(" -j ")[0] + " -j 1" + (" (all cores)" if len(os.sched_getaffinity(0)) == 1 else "")]
            speedup = "%.2fx" % median([a[0] / b[0] for a, b in zip(single, rows)])
        sizes = {row[3] for row in rows}
        print("%-36s %9.1f %9.1f %9s %12.1f %14s" % (name, median([r[0] for r in rows]), median([r[1] for r in rows]),
                                                     speedup, max(r[2] for r in rows),
                                                     ",".join(str(size) for size in sorted(sizes))), flush=True)
    for level, hashes in sorted(images.items()):
        print("level %s: %s" % (level, "the same image for every -j" if len(hashes) == 1 else
                                "IMAGES DIFFER between -j values"))
        if len(hashes) != 1:
            sys.exit(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--inputs", default="tree,folder", help="tree (many files), folder (the generated one)")
    parser.add_argument("--size", type=int, default=1024, help="the folder's size in MiB (default 1024)")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--runs", default="pack12,pack6,zip,7z")
    parser.add_argument("--pack", default=PACK, help="the packer to measure")
    parser.add_argument("--stub", default=os.path.join(BUILD, "bin", "brevant-stub.exe"))
    options = parser.parse_args()
    options.pack, options.stub = os.path.abspath(options.pack), os.path.abspath(options.stub)

    os.makedirs(os.path.join(BUILD, "bench-pack"), exist_ok=True)
    out = tempfile.mkdtemp(prefix="pack-bench-", dir=os.path.join(BUILD, "bench-pack"))
    stub = options.stub
    if not os.path.exists(stub):
        stub = os.path.join(out, "stub.exe")  # the packer needs only an MZ file without signatures
        with open(stub, "wb") as f:
            f.write(b"MZ" + bytes(62) + b"x" * 4032)
    with open("/proc/loadavg") as f:
        print("load average before: %s; %d processors for this process" % (f.read().strip(),
                                                                           len(os.sched_getaffinity(0))))
    for kind in options.inputs.split(","):
        if kind == "folder":
            folder = os.path.join(BUILD, "bench-pack", "input-%d" % options.size)
            make_folder(folder, options.size << 20)
        else:
            folder = os.path.join(BUILD, "bench-pack", "doc")
            copy_tree("/usr/share/doc", folder)
        count, total = tree_figures(folder)
        print("\n%s: %d files, %.1f MB, %d rounds" % (folder, count, total / 1e6, options.rounds), flush=True)
        bench(folder, options, stub, out)
    with open("/proc/loadavg") as f:
        print("\nload average after: %s" % f.read().strip())
    if stub != options.stub:
        os.remove(stub)
    os.rmdir(out)


if __name__ == "__main__":
    main()
