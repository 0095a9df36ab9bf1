"""Configuration round trips: images that brevant-pack builds load in the real
stub under Wine, and damaged ones end with one warning box and exit code 1.
A loaded configuration shows the main dialog, which these tests cancel: no
box, exit code 0."""

import os
import struct
import subprocess
import unittest
import zlib

import sfxtest
from sfxtest import PACK, STUB, run_stub, work_dir

INTERNAL = "Internal error. Bad download?"
READ_ERROR = "Error reading from archive."


def pack(folder, name, *options):
    """Packs a small payload folder with the given options; the image's path."""
    payload = os.path.join(folder, "payload")
    os.makedirs(os.path.join(payload, "sub"), exist_ok=True)
    with open(os.path.join(payload, "readme.txt"), "w") as f:
        f.write("hello from the configuration round trip\n" * 20)
    with open(os.path.join(payload, "sub", "data.bin"), "wb") as f:
        f.write(bytes(range(256)) * 16)
    image = os.path.join(folder, name)
    done = subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH] + list(options) + [payload],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise AssertionError("brevant-pack failed: " + done.stderr.decode())
    return image


def read(path):
    with open(path, "rb") as f:
        return f.read()


def config_header(data):
    at = data.index(b"JAVA")
    magic, crc, size = struct.unpack_from("<4sII", data, at)
    return at, crc, size


def first_block_type(data):
    at, _, _ = config_header(data)
    return (data[at + 12] >> 1) & 3


class ConfigRoundTripTest(sfxtest.FatalBoxAssertions, unittest.TestCase):
    def assertLoads(self, image):
        run = run_stub(image, dialog=["press:2"], timeout=30)
        self.assertEqual(run.errors, [], run)
        self.assertEqual(len(run.dialogs), 1, run)
        self.assertEqual(run.boxes, [], run)
        self.assertEqual(run.exit_code, 0, run)

    def assertFatal(self, image, text):
        self.assertFatalBox(run_stub(image, timeout=30), text)

    def damaged(self, folder, name, change):
        """A copy of a good image with change(bytearray) applied."""
        good = pack(folder, "good-" + name)
        data = bytearray(read(good))
        change(data)
        image = os.path.join(folder, name)
        with open(image, "wb") as f:
            f.write(data)
        return image

    # ---- images that load ----

    def test_stored_configuration_loads(self):
        folder = work_dir("config-stored")
        image = pack(folder, "stored.exe", "--level", "0", "--description", "stored blocks")
        self.assertEqual(first_block_type(read(image)), 0)
        self.assertLoads(image)

    def test_fixed_configuration_loads(self):
        folder = work_dir("config-fixed")
        image = pack(folder, "fixed.exe", "--description", "Short")
        self.assertEqual(first_block_type(read(image)), 1)
        self.assertLoads(image)

    def test_dynamic_configuration_loads(self):
        folder = work_dir("config-dynamic")
        text = " ".join("The quick brown fox %d jumps over the lazy dog." % i for i in range(60))
        image = pack(folder, "dynamic.exe", "--description", text, "--about", text[::-1],
                     "--run", "readme.txt", "--dest", "fixed:C:\\Program Files\\Brevant")
        self.assertEqual(first_block_type(read(image)), 2)
        self.assertLoads(image)

    def test_every_option_loads(self):
        folder = work_dir("config-options")
        image = pack(folder, "options.exe", "--extractor", "--overwrite", "--delete-after",
                     "--dest", "unique-temp", "--about", "About text",
                     "--wait-file", "x.log", "--run", "readme.txt")
        self.assertLoads(image)

    # ---- damaged images ----

    def test_corrupted_header_crc(self):
        def flip(data):
            at, _, _ = config_header(data)
            data[at + 4] ^= 0x01
        self.assertFatal(self.damaged(work_dir("config-bad-crc"), "bad-crc.exe", flip), INTERNAL)

    def test_size_smaller_than_the_stream(self):
        def shrink(data):
            at, _, size = config_header(data)
            struct.pack_into("<I", data, at + 8, size - 1)
        self.assertFatal(self.damaged(work_dir("config-small-size"), "small.exe", shrink), INTERNAL)

    def test_consistent_crc_but_block_under_40_bytes(self):
        # A block of 20 bytes whose CRC matches: only the consistency check
        # stops it.
        folder = work_dir("config-short-block")
        data = bytearray(read(STUB))
        block = b"\0" * 20
        raw = zlib.compressobj(9, zlib.DEFLATED, -15)
        stream = raw.compress(block) + raw.flush()
        data += b"JAVA" + struct.pack("<II", zlib.crc32(block), len(block)) + stream
        data += b"PK\3\4" + b"\0" * 64
        image = os.path.join(folder, "short-block.exe")
        with open(image, "wb") as f:
            f.write(data)
        self.assertFatal(image, INTERNAL)

    def test_truncated_stream(self):
        folder = work_dir("config-truncated")
        good = pack(folder, "good.exe", "--level", "0", "--description", "x" * 400)
        data = read(good)
        at, _, _ = config_header(data)
        image = os.path.join(folder, "truncated.exe")
        with open(image, "wb") as f:
            f.write(data[:at + 12 + 100])  # cut inside the stored configuration
        self.assertFatal(image, READ_ERROR)

    def test_missing_header(self):
        def erase(data):
            at, _, _ = config_header(data)
            data[at:at + 4] = b"JAVB"
        self.assertFatal(self.damaged(work_dir("config-missing"), "missing.exe", erase), INTERNAL)

    def test_header_past_the_scan_limit(self):
        folder = work_dir("config-past-limit")
        good = pack(folder, "good.exe")
        data = read(good)
        at, _, _ = config_header(data)
        stub, rest = data[:at], data[at:]
        moved = stub + b"\0" * (59997 - len(stub)) + rest
        self.assertEqual(moved.index(b"JAVA"), 59997)
        image = os.path.join(folder, "late.exe")
        with open(image, "wb") as f:
            f.write(moved)
        self.assertFatal(image, INTERNAL)

    def test_describe_reads_back_every_field(self):
        folder = work_dir("config-describe")
        image = pack(folder, "described.exe", "--extractor", "--autostart", "--ctl3d",
                     "--dest", "fixed:C:\\Out", "--start-message", "Start!",
                     "--init-message", "Init!", "--about", "About!", "--description", "Desc!",
                     "--run", "readme.txt", "--wait-file", "wait.lck")
        done = subprocess.run([PACK, "--describe", image], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        text = done.stdout.decode()
        self.assertEqual(done.returncode, 0, text + done.stderr.decode())
        for expected in ["extractor", "autostart ctl3d", "fixed (4)", '"Start!"', '"Init!"',
                         '"About!"', '"Desc!"', '"C:\\\\Out"', '"readme.txt"', '"wait.lck"',
                         "payload/sub/data.bin", "the image checks"]:
            self.assertIn(expected, text)



if __name__ == "__main__":
    sfxtest.main()
