#!/usr/bin/env python3
"""The x86 stub's decoder, counted: the instructions it spends on one large
file, built exactly as the x86 stub builds it, and optionally the same for
another commit of the project, on the same stream.

    bench/x86_decoder_count.py [--baseline REV] [--stream FILE]

The stub's own build tree is configured for each tree (this one, and REV's,
taken with git archive) to learn the compiler flags of every source of
src/inflate/; each is then compiled with the host's g++ for i386 Linux with
those flags, linked to bench/i386/decode_stream.cpp (no C library) and run
under callgrind. The host's x86-64 build (bench-inflate) has twice the
registers and counts differently: a loop that small code spills on x86 shows
here only.

The stream, unless --stream names a raw deflate stream: the one large file of
bench/e2e_bench.py (100 MB of word-like text, the same seed), packed by the
host packer as that benchmark packs it. The count is of everything inside
InflateStream, less the copying of the input out of memory (the harness's);
the CRC-32 of the output is checked against the archive's before counting.
Needs valgrind and a kernel that runs i386 programs; without them it says so
and ends with 0."""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import e2e_bench  # noqa: E402

WORK = os.path.join(ROOT, "build", "bench-x86-decoder")
HARNESS = os.path.join(ROOT, "bench", "i386", "decode_stream.cpp")
I386 = ["g++", "-m32", "-ffreestanding", "-fno-pic", "-fno-pie"]
HARNESS_FLAGS = ["-O2", "-fno-exceptions", "-fno-rtti", "-fno-asynchronous-unwind-tables",
                 "-fno-stack-protector", "-std=gnu++17"]


def run(command, **kw):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    if done.returncode != 0:
        sys.stderr.write(done.stdout)
        raise subprocess.CalledProcessError(done.returncode, command)
    return done


def builds_i386(work):
    """Whether the host's compiler and linker make i386 programs."""
    source = os.path.join(work, "probe.cpp")
    with open(source, "w") as f:
        f.write('extern "C" void _start() { for (;;) {} }\n')
    try:
        run(I386 + ["-c", source, "-o", source + ".o"])
        run(["ld", "-m", "elf_i386", "-static", "-o", source + ".out", source + ".o"])
    except (OSError, subprocess.CalledProcessError):
        return False
    return True


def decoder_commands(tree, work):
    """(directory, arguments, source) of each source of the tree's decoder,
    as the x86 stub's build compiles it."""
    build = os.path.join(work, "cmake")
    run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
         "-DBREVANT_BIN_DIR=" + os.path.join(work, "bin"),
         "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(tree, "cmake", "mingw-i686.cmake"),
         "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"])
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    inflate = os.path.join(tree, "src", "inflate") + os.sep
    found = [e for e in entries if e["file"].startswith(inflate) and "brevant_core" in e["command"]]
    if not found:
        raise SystemExit("x86_decoder_count: no decoder sources in the build of " + tree)
    return [(e["directory"], shlex.split(e["command"]), e["file"]) for e in found]


def build_decoder(tree, work, shim):
    """The decode_stream program over the tree's decoder; its path."""
    objects = []
    for directory, arguments, source in decoder_commands(tree, work):
        flags = []
        skip = False
        for arg in arguments[1:]:  # the cross compiler goes
            if skip:
                skip = False
            elif arg in ("-o", "-c"):
                skip = True
            else:
                flags.append(arg)
        out = os.path.join(work, os.path.basename(source) + ".o")
        run(I386 + ["-I" + shim] + flags + ["-c", source, "-o", out], cwd=directory)
        objects.append(out)
    harness = os.path.join(work, "decode_stream.o")
    run(I386 + HARNESS_FLAGS + ["-I" + os.path.join(tree, "src"), "-c", HARNESS, "-o", harness])
    program = os.path.join(work, "decode_stream")
    run(["ld", "-m", "elf_i386", "-static", "-e", "_start", "--gc-sections", "-o", program, harness]
        + objects)
    return program


def large_stream(work):
    """The raw stream of the e2e benchmark's large file as the packer writes
    it, and the CRC-32 and size of its output."""
    folder = e2e_bench.make_large()
    image = os.path.join(work, "large.exe")
    if not os.path.exists(image):
        e2e_bench.pack("large", folder, os.path.join(work, "out"), image=image)
    with zipfile.ZipFile(image) as archive:
        info = archive.infolist()[0]
    stream = os.path.join(work, "large.deflate")
    with open(image, "rb") as f:
        f.seek(info.header_offset + 26)
        name, extra = (int.from_bytes(f.read(2), "little") for _ in range(2))
        f.seek(info.header_offset + 30 + name + extra)
        data = f.read(info.compress_size)
    with open(stream, "wb") as f:
        f.write(data)
    return stream, info.CRC, info.file_size


def functions(out_file, inclusive):
    """callgrind's count of each function, by name without its arguments."""
    report = run(["callgrind_annotate", "--inclusive=" + ("yes" if inclusive else "no"),
                  "--threshold=100", out_file]).stdout
    found = {}
    for line in report.splitlines():
        m = re.match(r"\s*([\d,]+)\s.*\?\?\?:([^(\s]+)", line)
        if m:
            found[m.group(2)] = found.get(m.group(2), 0) + int(m.group(1).replace(",", ""))
    return found


def count(program, stream, work):
    """The decoder's count, the CRC-32's part of it, and each function's own
    count."""
    out_file = os.path.join(work, "callgrind.out")
    run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file, program, stream])
    whole = functions(out_file, True)
    own = functions(out_file, False)
    own.pop("ReadStream", None)
    own.pop("memcpy", None)
    return whole["InflateStream"] - whole.get("ReadStream", 0), whole.get("UpdateCrc", 0), own


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--baseline", help="a commit whose decoder is counted beside this tree's")
    parser.add_argument("--stream", help="a raw deflate stream to decode instead")
    options = parser.parse_args()
    if not shutil.which("valgrind"):
        print("x86 stub's decoder: valgrind is not installed")
        return 0
    os.makedirs(WORK, exist_ok=True)
    if not builds_i386(WORK):
        print("x86 stub's decoder: the host's g++ and ld make no i386 programs")
        return 0
    shim = os.path.join(WORK, "shim")
    os.makedirs(shim, exist_ok=True)
    # The SSE headers include mm_malloc.h, which wants the C library's
    # headers; the decoder allocates nothing through it.
    open(os.path.join(shim, "mm_malloc.h"), "w").close()

    if options.stream:
        stream, crc, size = options.stream, None, None
        label = os.path.basename(stream)
    else:
        stream, crc, size = large_stream(WORK)
        label = "one large file, %.1f MB out of %.1f MB" % (size / 1e6, os.path.getsize(stream) / 1e6)
    trees = [("this tree", ROOT)]
    with tempfile.TemporaryDirectory(dir=WORK) as temp:
        if options.baseline:
            tree = os.path.join(temp, "baseline")
            os.makedirs(tree)
            archive = subprocess.run(["git", "-C", ROOT, "archive", options.baseline],
                                     check=True, stdout=subprocess.PIPE).stdout
            subprocess.run(["tar", "-x", "-C", tree], input=archive, check=True)
            trees.append((options.baseline, tree))
        print("the x86 stub's decoder under callgrind (i386 build, the stub's flags): " + label)
        counts = []
        for name, tree in trees:
            work = os.path.join(temp, "build-" + str(len(counts)))
            os.makedirs(work)
            program = build_decoder(tree, work, shim)
            try:
                done = subprocess.run([program, stream], stdout=subprocess.PIPE, text=True)
            except OSError:
                print("  this machine runs no i386 programs")
                return 0
            got = done.stdout.split()
            if done.returncode != 0 or len(got) != 2 or (
                    crc is not None and (int(got[0], 16), int(got[1])) != (crc, size)):
                raise SystemExit("x86_decoder_count: %s decodes the stream wrongly" % name)
            size = int(got[1])
            total, crc_part, own = count(program, stream, work)
            counts.append((total, own))
            print("  %-12s %14s instructions, %6.2f per output byte (the CRC-32: %s)" % (
                name, format(total, ","), total / size, format(crc_part, ",")))
        if len(counts) == 2:
            (total, own), (base, base_own) = counts
            print("  this tree counts %.4fx the baseline's; where they differ by 0.1%% or more:" % (
                total / base))
            for function in sorted(set(own) | set(base_own)):
                a, b = own.get(function, 0), base_own.get(function, 0)
                if abs(a - b) >= base / 1000:
                    print("    %-22s %+14s" % (function, format(a - b, ",")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
