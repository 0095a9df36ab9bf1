#!/usr/bin/env python3
"""End-to-end extraction speed: the stub under Wine against a plain zlib
console extractor (bench/win32/zip_extract.cpp) under the same Wine, on the
same images, interleaved, several rounds. Two images of about 100 MB: one
large file, and a tree of a few thousand files.

    bench/e2e_bench.py [ROUNDS]

Wall-clock times (the medians) include Wine's start-up for both programs.
The stub runs its installer form with automatic start into a fixed folder,
replacing files without asking: exactly what a user's double click does."""

import os
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import sfxtest  # noqa: E402

WORK = os.path.join(ROOT, "build", "bench-e2e")
EXTRACTOR = os.path.join(sfxtest.TREE, "bench", "zip-extract.exe")
WINE_BED = sfxtest.WINE_BED


def text_like(rng, size):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(4000)]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
        if rng.random() < 0.02:
            out += rng.randbytes(rng.randint(16, 400))
    return bytes(out[:size])


def make_inputs():
    rng = random.Random(7)
    large = os.path.join(WORK, "large")
    if not os.path.exists(large):
        os.makedirs(large)
        with open(os.path.join(large, "data.bin"), "wb") as f:
            f.write(text_like(rng, 100 * 1000 * 1000))
    many = os.path.join(WORK, "many")
    if not os.path.exists(many):
        block = text_like(rng, 4 * 1000 * 1000)
        for i in range(3000):
            folder = os.path.join(many, "d%02d" % (i % 40), "s%d" % (i % 7))
            os.makedirs(folder, exist_ok=True)
            start = rng.randrange(len(block) - 70000)
            with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
                f.write(block[start:start + rng.randint(1000, 65000)])
    return {"one large file": large, "3000 files": many}


def pack(name, folder, dest):
    image = os.path.join(WORK, name + ".exe")
    subprocess.run([sfxtest.PACK, "-o", image, "--force", "--stub", sfxtest.STUB, "--flat", "--level", "9",
                    "--autostart", "--overwrite", "--dest", "fixed:" + sfxtest.win_path(dest),
                    folder], check=True, stdout=subprocess.DEVNULL)
    return image


def timed(command):
    start = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    if done.returncode != 0:
        raise SystemExit("failed (%d): %s" % (done.returncode, " ".join(command)))
    return elapsed


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    os.makedirs(WORK, exist_ok=True)
    subprocess.run([WINE_BED, "start", "bench"], check=True, env=sfxtest_env())
    try:
        print("end-to-end extraction under Wine (%s), %d rounds, median wall time"
              % (sfxtest.ARCH, rounds))
        for label, folder in make_inputs().items():
            stub_out = os.path.join(WORK, "out-stub")
            zlib_out = os.path.join(WORK, "out-zlib")
            image = pack(label.replace(" ", "-"), folder, stub_out)
            stub, console = [], []
            for _ in range(rounds):
                for out in (stub_out, zlib_out):
                    shutil.rmtree(out, ignore_errors=True)
                stub.append(timed([WINE_BED, "run", image]))
                console.append(timed([WINE_BED, "run", EXTRACTOR, sfxtest.win_path(image),
                                      sfxtest.win_path(zlib_out)]))
            subprocess.run(["diff", "-r", "-q", stub_out, zlib_out], check=True)
            s, c = statistics.median(stub), statistics.median(console)
            print("  %-15s %6.1f MB image: stub %6.2f s, zlib console extractor %6.2f s, "
                  "speed ratio %.2fx" % (label, os.path.getsize(image) / 1e6, s, c, c / s))
    finally:
        subprocess.run([WINE_BED, "stop", "bench"], env=sfxtest_env())


def sfxtest_env():
    return dict(os.environ, BREVANT_WINE_ARCH=sfxtest.ARCH)


if __name__ == "__main__":
    main()
