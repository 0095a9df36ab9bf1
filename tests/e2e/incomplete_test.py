"""Runs that cannot extract everything say so: a cut or damaged archive (of
which nothing is written), names Windows would not create as themselves, a
full disk. Exit code 0 means every entry is on disk and verified, 2 that some
could not be created, written or verified (after the user was told), 1 a
fatal report. And an image in a folder
whose name the code page cannot write still opens itself."""

import os
import shutil
import subprocess
import unittest
import zipfile

import sfxtest
from sfxtest import run_stub, win_path, work_dir
from extract_test import Packed, read

READ_ERROR = "Error reading from archive."
CREATE_FAILED = "Couldn't create %s. Click OK to continue, or Cancel to exit immediately."
CREATE_FAILED_JA = "%sを作成できません. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."
WRITE_FAILED = ("Couldn't write %s. The disk may be full. "
                "Click OK to continue, or Cancel to exit immediately.")


def zip_of(path, entries):
    """A deflated archive of (name, bytes) entries, folders stored; a name given
    as bytes is stored as exactly those bytes (a placeholder of its length is
    patched)."""
    patches = []
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for i, (name, data) in enumerate(entries):
            if isinstance(name, bytes):
                placeholder = ("%c" % (ord("A") + i)) * len(name)
                patches.append((placeholder.encode(), name))
                name = placeholder
            # A folder entry stored, as ZIP tools write it: no data at all.
            z.writestr(name, data, zipfile.ZIP_STORED if name.endswith("/") else None)
    archive = read(path)
    for placeholder, name in patches:
        archive = archive.replace(placeholder, name)
    with open(path, "wb") as f:
        f.write(archive)
    return archive


class IncompleteTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("incomplete")
        cls.images = Packed(cls.work)

    def fresh(self, name):
        return work_dir(os.path.join("incomplete", name))

    def image_of(self, label, archive_bytes, dest):
        """An image of the archive's bytes that extracts at once into dest (a
        host folder, or a Windows path)."""
        archive = os.path.join(self.work, label + ".zip")
        with open(archive, "wb") as f:
            f.write(archive_bytes)
        if not dest.endswith("\\"):
            dest = win_path(dest)
        return self.images.around(label + ".exe", archive, "--autostart", "--dest", "fixed:" + dest)

    def test_an_archive_cut_or_damaged_writes_nothing_and_says_so(self):
        whole = zip_of(os.path.join(self.work, "three.zip"),
                       [("one.txt", b"1" * 5000), ("two.txt", os.urandom(3000)),
                        ("three.txt", b"3" * 7000)])
        second = whole.index(b"PK\x03\x04", 1)
        directory = whole.index(b"PK\x01\x02")

        def changed(at, value):
            damaged = bytearray(whole)
            damaged[at] = value
            return bytes(damaged)

        cases = [
            ("inside the central directory", whole[:directory + 20]),
            ("inside the end record", whole[:-10]),
            ("before a header", whole[:second]),
            ("before the central directory", whole[:directory]),
            ("a damaged size", changed(second + 18, whole[second + 18] ^ 0x10)),
            ("a local signature made the directory's", changed(second + 3, 2)),
            ("a byte of a local name", changed(second + 30, ord("T"))),
            ("1,000 bytes after the end record", whole + b"g" * 1000),
        ]
        for label, archive in cases:
            with self.subTest(label):
                dest = self.fresh("out-cut")
                os.rmdir(dest)  # not even the destination is made
                result = run_stub(self.image_of("cut", archive, dest))
                self.assertEqual(result.errors, [], result)
                self.assertEqual([b.text for b in result.boxes], [READ_ERROR])
                self.assertEqual(result.exit_code, 1)
                self.assertFalse(os.path.exists(dest))
        dest = self.fresh("out-cut")
        result = run_stub(self.image_of("whole", whole, dest))
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        self.assertEqual(sorted(os.listdir(dest)), ["one.txt", "three.txt", "two.txt"])

    def test_names_windows_would_not_create_as_themselves_prompt_and_exit_2(self):
        dest = self.fresh("out-names")
        names = ["nul.txt", "COM1", "aux.c", "dot.", "dirdot./x", "space "]
        # A file where this run made a folder, and a folder where it made a file.
        clashes = [("made/", b""), ("made", b"a file"), ("kept.txt/", b"")]
        archive = zip_of(os.path.join(self.work, "names.zip"),
                         [(n, b"never written") for n in names] + [("kept.txt", b"kept")] + clashes)
        result = run_stub(self.image_of("names", archive, dest))
        self.assertEqual(result.errors, [], result)
        self.assertEqual([b.text for b in result.boxes],
                         [CREATE_FAILED % n for n in names + ["made", "kept.txt/"]])
        self.assertEqual(result.exit_code, 2)
        self.assertEqual(sorted(os.listdir(dest)), ["kept.txt", "made"])
        self.assertTrue(os.path.isdir(os.path.join(dest, "made")))

    def test_japanese_names_with_a_lone_or_misplaced_lead_byte(self):
        dest = self.fresh("out-lead")
        archive = zip_of(os.path.join(self.work, "lead.zip"),
                         [(b"end\x83", b"lone"), (b"a\x83/../x", b"misplaced"),
                          ("ok.txt", b"ok")])
        result = run_stub(self.image_of("lead", archive, dest), lang="ja")
        self.assertEqual(result.errors, [], result)
        self.assertEqual([b.text for b in result.boxes],
                         [CREATE_FAILED_JA % "end?", CREATE_FAILED_JA % "a?/../x"])
        self.assertEqual(result.exit_code, 2)
        self.assertEqual(os.listdir(dest), ["ok.txt"])
        self.assertFalse(os.path.exists(os.path.join(self.work, "x")))

    def test_a_full_disk_is_named_and_ends_with_exit_2(self):
        disk = os.path.join(self.work, "small-disk")
        os.makedirs(disk, exist_ok=True)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a tmpfs here (needs root)")
        self.addCleanup(subprocess.run, ["umount", disk])
        drive = os.path.join(sfxtest.prefix(), "dosdevices", "r:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(disk, drive)
        self.addCleanup(os.remove, drive)
        archive = zip_of(os.path.join(self.work, "big.zip"),
                         [("small.txt", b"fits"), ("big.bin", os.urandom(200000))])
        image = self.image_of("full", archive, "R:\\")
        result = run_stub(image, answers=["OK"])
        self.assertEqual(result.errors, [], result)
        self.assertEqual([b.text for b in result.boxes], [WRITE_FAILED % "big.bin"])
        self.assertEqual(result.boxes[0].button_ids, [1, 2])
        self.assertEqual(result.exit_code, 2)
        self.assertEqual(read(os.path.join(disk, "small.txt")), b"fits")

        result = run_stub(image, answers=["No", "Yes", "Cancel"])  # keep, replace, give up
        self.assertEqual(result.exit_code, 1, result)

    def test_an_image_in_a_folder_named_outside_the_code_page_extracts(self):
        folder = self.fresh("Папка 表")
        source = self.fresh("plain-source")
        with open(os.path.join(source, "inside.txt"), "wb") as f:
            f.write(b"next to the image")
        image = self.images.pack("image-dir.exe", [source], "--flat", "--autostart",
                                 "--dest", "image-dir")
        moved = os.path.join(folder, "setup.exe")
        shutil.move(image, moved)
        result = run_stub(moved)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        self.assertEqual(read(os.path.join(folder, "inside.txt")), b"next to the image")


if __name__ == "__main__":
    sfxtest.main()
