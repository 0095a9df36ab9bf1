"""Extraction through the real stub under Wine: archives made by brevant-pack
and by other tools extract to exactly the tree that unzip extracts from the
same archive (files, bytes, modification times), under a time zone that is
not UTC; prompts, refusals and exit codes as a user meets them."""

import os
import shutil
import struct
import subprocess
import time
import unittest
import zipfile

import sfxtest
from sfxtest import PACK, STUB, run_stub, win_path, work_dir

# Not UTC, with daylight saving: a time set unchanged, or converted with
# today's offset instead of the entry's date, is off by hours.
TZ = "America/New_York"
CREATE_FAILED = "Couldn't create %s. Click OK to continue, or Cancel to exit immediately."


def make_source(root):
    """A small tree with nested folders, an empty file, an empty folder,
    compressible and incompressible data, and times in summer and winter."""
    files = {
        "readme.txt": b"Brevant extraction test\r\n" * 200,
        "docs/guide/chapter one.txt": b"".join(b"line %d of the guide\n" % i for i in range(3000)),
        "docs/empty.txt": b"",
        "bin/noise.bin": os.urandom(150000),
        "bin/zeros.dat": bytes(300000),
        "a..b.txt": b"dots inside a name are ordinary",
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "emptydir"), exist_ok=True)
    summer = time.mktime((2021, 7, 4, 12, 30, 10, 0, 0, -1))
    winter = time.mktime((2020, 1, 15, 8, 5, 40, 0, 0, -1))
    for i, name in enumerate(sorted(files)):
        stamp = summer if i % 2 else winter
        os.utime(os.path.join(root, name), (stamp, stamp))
    return files


def tree(root):
    """{relative path: (bytes, mtime)} for files, {path/: None} for folders."""
    found = {}
    for folder, dirs, names in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(folder, d), root) + "/"] = None
        for n in names:
            path = os.path.join(folder, n)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = (f.read(), int(os.stat(path).st_mtime))
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def unzip_tree(archive, into):
    # unzip writes bit-11 names as UTF-8 only in a UTF-8 locale.
    env = dict(os.environ, TZ=TZ, LC_ALL="C.UTF-8")
    subprocess.run(["unzip", "-qq", "-o", archive, "-d", into], env=env, check=True)
    return tree(into)


def sizes_in_local_headers(archive):
    """Whether every local header carries the entry's sizes (no data
    descriptor), which is what the stub reads."""
    with zipfile.ZipFile(archive) as z:
        return all(not (info.flag_bits & 8) for info in z.infolist())


class Packed:
    """Images built with brevant-pack, and images of a foreign archive behind
    the stub and a configuration."""

    def __init__(self, folder):
        self.folder = folder

    def pack(self, name, inputs, *options):
        image = os.path.join(self.folder, name)
        done = subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH] + list(options) + inputs,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, TZ=TZ))
        if done.returncode != 0:
            raise AssertionError("brevant-pack failed: " + done.stderr.decode())
        return image

    def around(self, name, archive, *options):
        """The stub and configuration of a one-file image, followed by another
        tool's archive in place of the packer's own."""
        seed = os.path.join(self.folder, "seed.txt")
        with open(seed, "w") as f:
            f.write("seed")
        packed = self.pack(name, [seed], *options)
        data, foreign = read(packed), read(archive)
        with open(packed, "wb") as f:
            f.write(data[:data.index(b"PK\x03\x04")] + foreign)
        return packed


def run(image, answers=(), lang="en", timeout=120):
    return run_stub(image, answers=answers, lang=lang, timeout=timeout, env={"TZ": TZ})


class ExtractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("extract")
        cls.source = os.path.join(cls.work, "source")
        make_source(cls.source)
        cls.images = Packed(cls.work)

    def fresh(self, name):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def assertSameAsUnzip(self, archive, dest, expect_empty_dirs=True):
        reference = unzip_tree(archive, self.fresh(os.path.basename(dest) + "-unzip"))
        got = tree(dest)
        self.assertEqual(sorted(got), sorted(reference))
        for name, value in reference.items():
            if value is not None:
                self.assertEqual(got[name][0], value[0], name)
                self.assertEqual(got[name][1], value[1], "%s: time" % name)

    def extract_foreign(self, label, archive):
        dest = self.fresh("out-" + label)
        image = self.images.around(label + ".exe", archive, "--autostart",
                                   "--dest", "fixed:" + win_path(dest))
        result = run(image)
        self.assertEqual(result.errors, [], result)
        self.assertEqual(result.boxes, [], result)
        self.assertEqual(result.exit_code, 0, result)
        self.assertSameAsUnzip(archive, dest)

    def test_packed_image_extracts_like_unzip(self):
        dest = self.fresh("out-packed")
        image = self.images.pack("packed.exe", [self.source], "--flat", "--autostart",
                                 "--dest", "fixed:" + win_path(dest))
        result = run(image)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        self.assertSameAsUnzip(image, dest)

    def test_archives_of_other_tools_extract_like_unzip(self):
        makers = {}
        for level in ("0", "6", "9"):
            makers["zip%s" % level] = ["zip", "-q", "-r", "-" + level]
        makers["7z"] = ["7z", "a", "-tzip", "-mx=9", "-bd", "-bso0"]
        makers["bsdtar"] = ["bsdtar", "--format", "zip", "-cf"]
        for label, command in makers.items():
            archive = os.path.join(self.work, label + ".zip")
            if os.path.exists(archive):
                os.remove(archive)
            subprocess.run(command + [archive, "."], cwd=self.source, check=True,
                           env=dict(os.environ, TZ=TZ))
            if not sizes_in_local_headers(archive):
                continue  # streamed with data descriptors: no sizes for the stub
            with self.subTest(tool=label):
                self.extract_foreign(label, archive)
        for label, method in (("py-stored", zipfile.ZIP_STORED),
                              ("py-deflated", zipfile.ZIP_DEFLATED)):
            archive = os.path.join(self.work, label + ".zip")
            with zipfile.ZipFile(archive, "w", method) as z:
                for folder, dirs, names in os.walk(self.source):
                    for n in sorted(dirs + names):
                        path = os.path.join(folder, n)
                        z.write(path, os.path.relpath(path, self.source))
            with self.subTest(tool=label):
                self.extract_foreign(label, archive)

    def test_prompts_name_the_stored_entry_and_extraction_goes_on(self):
        dest = self.fresh("out-prompts")
        archive = os.path.join(self.work, "prompts.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("sub/exists.txt", "new content")
            z.writestr("../escape.txt", "must not leave the destination")
            z.writestr("crc.txt", "content whose CRC is damaged")
            z.writestr("after.txt", "extracted after the prompts")
        data = bytearray(read(archive))
        local = data.index(b"crc.txt") - 30
        record = data.index(b"crc.txt", local + 37) - 46
        data[local + 14] ^= 0xFF  # the CRC-32, in the local header and in its record alike
        data[record + 16] ^= 0xFF
        with open(archive, "wb") as f:
            f.write(bytes(data))
        os.makedirs(os.path.join(dest, "sub"))
        with open(os.path.join(dest, "sub", "exists.txt"), "w") as f:
            f.write("old")
        image = self.images.around("prompts.exe", archive, "--autostart",
                                   "--dest", "fixed:" + win_path(dest))
        result = run(image, answers=["No", "OK", "OK"])
        self.assertEqual(result.errors, [], result)
        self.assertEqual([b.text for b in result.boxes],
                         ["sub/exists.txt exists. Replace?", CREATE_FAILED % "../escape.txt",
                          "Couldn't verify crc.txt."])
        self.assertEqual(result.exit_code, 2)  # not every entry was extracted
        self.assertEqual(read(os.path.join(dest, "sub", "exists.txt")), b"old")
        self.assertFalse(os.path.exists(os.path.join(self.work, "escape.txt")))
        self.assertEqual(read(os.path.join(dest, "after.txt")), b"extracted after the prompts")

        result = run(image, answers=["Cancel"])
        self.assertEqual(len(result.boxes), 1, result)
        self.assertEqual(result.exit_code, 1)

    def test_japanese_name_with_a_backslash_trail_byte(self):
        # U+8868 and U+30BD end in byte 0x5C in code page 932.
        source = self.fresh("ja-source")
        os.makedirs(os.path.join(source, "表"))
        with open(os.path.join(source, "表", "ソフト.txt"), "wb") as f:
            f.write(b"kanji")
        dest = self.fresh("out-ja")
        image = self.images.pack("ja.exe", [source], "--flat", "--codepage", "932",
                                 "--autostart", "--dest", "fixed:" + win_path(dest))
        result = run(image, lang="ja")
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        self.assertEqual(sorted(tree(dest)), ["表/", "表/ソフト.txt"])


if __name__ == "__main__":
    sfxtest.main()
