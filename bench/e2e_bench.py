#!/usr/bin/env python3
"""End-to-end extraction speed: the stub under Wine against a plain zlib
console extractor (bench/win32/zip_extract.cpp) under the same Wine, on the
same images, interleaved, several rounds. Four images: one large file, a
tree of a few thousand generated files, a tree of some 6,000 real files under
16 KB, and a mixed tree of real files copied
from the installed packages (headers, documentation, shared libraries; its
size and file count depend on the machine and are printed).

    bench/e2e_bench.py [ROUNDS [SHAPE...]] [--folder DIR] [--baseline STUB]

SHAPE: large, many, mixed, small (real files under 16 KB: headers and
documentation) or folder (default: all that are given). --folder
DIR adds a shape of one's own: DIR's tree. --baseline STUB times an image of
the same archive behind another build of the stub in the same rounds, for a
change measured against the stub before it.

Wall-clock times include Wine's start-up for both programs; each program's
best of the rounds is taken, its median printed beside it, and the ratio of
the two programs' times within each round, whose median holds where the
machine's own speed drifts from minute to minute (a virtual machine whose
host is busy: the processor time spent, printed as busy time, drifts with
the wall time, so the programs are not waiting for the disk). Before each
run the files of the last one are removed and flushed to the disk.
The stub runs its installer form with automatic start into a fixed folder,
replacing files without asking: exactly what a user's double click does.
Both programs run inside a Wine virtual desktop, as on a real desktop: on
the bare X server of the test bed, with no window manager, Wine may wait up
to two seconds for one each time a top-level window is hidden. The desktop
is the prefix's default for the bench (HKCU\Software\Wine\Explorer, value
Desktop; removed afterwards), kept up by a program that idles in it, so
that no run pays for the desktop's start. After the timed
rounds each program runs once more while its process is watched, for its
peak working set (VmHWM of the Wine process, Wine's own libraries
included)."""

import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import sfxtest  # noqa: E402

WORK = os.path.join(ROOT, "build", "bench-e2e")
EXTRACTOR = os.path.join(sfxtest.TREE, "bench", "zip-extract.exe")
WINE_BED = sfxtest.WINE_BED
DESKTOP = ("bench", "640x480")
EXPLORER_KEY = "HKCU\\Software\\Wine\\Explorer"

# Where the mixed tree's files come from, with how many files (or bytes) of
# each are taken, in sorted order.
MIXED_SOURCES = [
    ("include", "/usr/include", 3500, None),
    ("doc", "/usr/share/doc", 2000, None),
    ("lib", "/usr/lib/x86_64-linux-gnu", None, 60 * 1000 * 1000),
]
# The small-files tree: real files under 16 KB, the shape of a tree of
# headers and documentation, where the cost of each entry tells.
SMALL_SOURCES = [
    ("include", "/usr/include", 4000, None),
    ("doc", "/usr/share/doc", 2000, None),
]
SMALL_FILE = 16 * 1024
SAFE_PART = re.compile(r"^[A-Za-z0-9_+-][A-Za-z0-9._+-]*$")
DEVICES = re.compile(r"^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\..*)?$", re.I)


def text_like(rng, size):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(4000)]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
        if rng.random() < 0.02:
            out += rng.randbytes(rng.randint(16, 400))
    return bytes(out[:size])


def usable_name(relative):
    """Whether Windows can create the name and the packer takes it."""
    return len(relative) < 180 and all(
        SAFE_PART.match(part) and not part.endswith(".") and not DEVICES.match(part)
        for part in relative.split("/"))


def copy_tree(target, sources, max_size=None):
    """Regular files of the sources, in sorted order (each under max_size
    bytes, if given)."""
    seen = set()
    for label, source, max_files, max_bytes in sources:
        files = taken = 0
        for folder, dirs, names in os.walk(source):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, source)
                if os.path.islink(path) or not os.path.isfile(path) or not usable_name(relative):
                    continue
                if label == "lib" and (".so" not in name or folder != source):
                    continue
                size = os.path.getsize(path)
                if max_size is not None and size >= max_size:
                    continue
                if max_bytes is not None and (size > 8 * 1000 * 1000 or taken + size > max_bytes):
                    continue
                key = (label + "/" + relative).lower()
                if key in seen:
                    continue
                seen.add(key)
                out = os.path.join(target, label, relative)
                os.makedirs(os.path.dirname(out), exist_ok=True)
                try:
                    shutil.copyfile(path, out)
                except OSError:
                    continue  # unreadable
                files += 1
                taken += size
                if max_files is not None and files >= max_files:
                    break
            if max_files is not None and files >= max_files:
                break


def tree_size(folder):
    count = total = 0
    for base, _, names in os.walk(folder):
        for name in names:
            count += 1
            total += os.path.getsize(os.path.join(base, name))
    return count, total


def make_large(rng=None):
    """The folder of one large file: 100 MB of word-like text."""
    rng = rng or random.Random(7)
    large = os.path.join(WORK, "large")
    if not os.path.exists(large):
        os.makedirs(large + ".part")
        with open(os.path.join(large + ".part", "data.bin"), "wb") as f:
            f.write(text_like(rng, 100 * 1000 * 1000))
        os.rename(large + ".part", large)
    return large


def make_inputs():
    rng = random.Random(7)
    large = make_large(rng)
    many = os.path.join(WORK, "many")
    if not os.path.exists(many):
        block = text_like(rng, 4 * 1000 * 1000)
        for i in range(3000):
            folder = os.path.join(many, "d%02d" % (i % 40), "s%d" % (i % 7))
            os.makedirs(folder, exist_ok=True)
            start = rng.randrange(len(block) - 70000)
            with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
                f.write(block[start:start + rng.randint(1000, 65000)])
    mixed = os.path.join(WORK, "mixed")
    if not os.path.exists(mixed):
        copy_tree(mixed + ".part", MIXED_SOURCES)
        os.rename(mixed + ".part", mixed)
    small = os.path.join(WORK, "small")
    if not os.path.exists(small):
        copy_tree(small + ".part", SMALL_SOURCES, SMALL_FILE)
        os.rename(small + ".part", small)
    count, total = tree_size(mixed)
    small_count, small_total = tree_size(small)
    return [("large", "one large file", large), ("many", "3000 files", many),
            ("mixed", "mixed %d files" % count, mixed),
            ("small", "small %d files" % small_count, small)], (count, total)


def pack(name, folder, dest, stub=sfxtest.STUB, image=None):
    image = image or os.path.join(WORK, name + ".exe")
    subprocess.run([sfxtest.PACK, "-o", image, "--force", "--stub", stub, "--arch", sfxtest.ARCH, "--flat", "--level", "9",
                    "--autostart", "--overwrite", "--dest", "fixed:" + sfxtest.win_path(dest),
                    folder], check=True, stdout=subprocess.DEVNULL)
    return image


def wine(*command):
    return [WINE_BED, "run"] + list(command)


def reg(*args):
    subprocess.run(wine("reg", *args, "/f"), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def start_desktop():
    """Makes the virtual desktop the default and starts a program that keeps
    it up (Minesweeper, idle); the keeper, in a process group of its own."""
    reg("add", EXPLORER_KEY, "/v", "Desktop", "/d", DESKTOP[0])
    reg("add", EXPLORER_KEY + "\\Desktops", "/v", DESKTOP[0], "/d", DESKTOP[1])
    keeper = subprocess.Popen(wine("winemine"), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    time.sleep(3)
    return keeper


def stop_desktop(keeper):
    os.killpg(keeper.pid, 15)
    keeper.wait()
    reg("delete", EXPLORER_KEY, "/v", "Desktop")


def busy_seconds():
    """The processor time the whole machine has spent working (user, nice,
    system, interrupts), not idle, not waiting for the disk, not stolen by
    the host: the program, its Wine server, the desktop and the X server
    together, and the kernel's file system work on their behalf."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:8]]
    user, nice, system, _idle, _iowait, irq, softirq = fields
    return (user + nice + system + irq + softirq) / os.sysconf("SC_CLK_TCK")


def timed(command):
    """Wall time and the machine's busy time of one run."""
    busy = busy_seconds()
    start = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    busy = busy_seconds() - busy
    if done.returncode != 0:
        raise SystemExit("failed (%d): %s" % (done.returncode, " ".join(command)))
    return elapsed, busy


def peak_working_set(command, program):
    """Runs command, watching the Wine process of program: its VmHWM in MB."""
    name = os.path.basename(program).encode()
    peak = [0]
    done = threading.Event()

    def watch():
        while not done.is_set():
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        first = f.read().split(b"\0")[0]
                    if not first.endswith(name):
                        continue
                    with open("/proc/%s/status" % pid) as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                peak[0] = max(peak[0], int(line.split()[1]))
                except OSError:
                    continue
            time.sleep(0.01)

    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        timed(command)
    finally:
        done.set()
        watcher.join()
    return peak[0] / 1024.0


def main():
    parser = argparse.ArgumentParser(description="Whole extractions under Wine, stub against zlib.")
    parser.add_argument("rounds", nargs="?", type=int, default=5)
    parser.add_argument("shapes", nargs="*")
    parser.add_argument("--folder", help="a tree of one's own, as the shape 'folder'")
    parser.add_argument("--baseline", help="another build of the stub, timed beside this one")
    options = parser.parse_args()
    rounds = options.rounds
    os.makedirs(WORK, exist_ok=True)
    subprocess.run([WINE_BED, "start", "bench"], check=True, env=sfxtest_env())
    keeper = None
    try:
        shapes, (count, total) = make_inputs()
        if options.folder:
            folder_count, folder_total = tree_size(options.folder)
            shapes.append(("folder", "folder %d files" % folder_count, options.folder))
            print("folder %s: %d files, %.1f MB" % (options.folder, folder_count, folder_total / 1e6))
        keeper = start_desktop()
        print("end-to-end extraction under Wine (%s), in a Wine virtual desktop, %d rounds, "
              "best wall time; mixed tree: %d files, %.1f MB"
              % (sfxtest.ARCH, rounds, count, total / 1e6))
        for key, label, folder in shapes:
            if options.shapes and key not in options.shapes:
                continue
            stub_out = os.path.join(WORK, "out-stub")
            zlib_out = os.path.join(WORK, "out-zlib")
            image = pack(key, folder, stub_out)
            stub_run = wine(image)
            zlib_run = wine(EXTRACTOR, sfxtest.win_path(image), sfxtest.win_path(zlib_out))
            runs = [(stub_run, stub_out), (zlib_run, zlib_out)]
            if options.baseline:
                baseline_out = os.path.join(WORK, "out-baseline")
                baseline = pack(key + "-baseline", folder, baseline_out, options.baseline)
                runs.insert(0, (wine(baseline), baseline_out))
            times = {command[-1]: [] for command, _ in runs}
            for n in range(rounds):
                # Every other round in the other order: a machine that
                # slows down or speeds up within a round favours neither.
                for command, out in (runs if n % 2 == 0 else runs[::-1]):
                    shutil.rmtree(out, ignore_errors=True)
                    # The last run's files and this removal reach the disk
                    # before the clock starts, not during the next run.
                    os.sync()
                    times[command[-1]].append(timed(command))
            for _, out in runs:
                if out != zlib_out:
                    subprocess.run(["diff", "-r", "-q", out, zlib_out], check=True)
            for _, out in runs:
                shutil.rmtree(out, ignore_errors=True)
            stub_peak = peak_working_set(stub_run, image)
            zlib_peak = peak_working_set(zlib_run, EXTRACTOR)
            wall = {k: [w for w, _ in v] for k, v in times.items()}
            busy = {k: [b for _, b in v] for k, v in times.items()}
            stub, console = wall[image], wall[zlib_run[-1]]
            s, c = min(stub), min(console)
            # The ratio of each round, the two runs a few seconds apart: this
            # machine's speed drifts by more than the programs differ from
            # one minute to the next, less within a round.
            paired = statistics.median(z / t for t, z in zip(stub, console))
            print("  %-17s %6.1f MB image: stub %5.2f s (median %5.2f), zlib console extractor "
                  "%5.2f s (median %5.2f); speed ratio %.2fx of the best times, %.2fx the median of the "
                  "rounds' own; busy time %.2f s and %.2f s; peak working set %.1f MB and %.1f MB"
                  % (label, os.path.getsize(image) / 1e6, s, statistics.median(stub), c,
                     statistics.median(console), c / s, paired, min(busy[image]), min(busy[zlib_run[-1]]),
                     stub_peak, zlib_peak))
            if options.baseline:
                b, bb = wall[baseline], busy[baseline]
                print("  %-17s baseline stub %5.2f s (median %5.2f): this stub takes %.3fx its best time, "
                      "%.3fx the median of the rounds' own; median busy time %.2f s against %.2f s"
                      % ("", min(b), statistics.median(b), s / min(b),
                         statistics.median(t / u for t, u in zip(stub, b)), statistics.median(busy[image]),
                         statistics.median(bb)))
    finally:
        if keeper:
            stop_desktop(keeper)
        subprocess.run([WINE_BED, "stop", "bench"], env=sfxtest_env())


def sfxtest_env():
    return dict(os.environ, BREVANT_WINE_ARCH=sfxtest.ARCH)


if __name__ == "__main__":
    main()
