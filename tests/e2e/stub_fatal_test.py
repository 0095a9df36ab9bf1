"""A stub without a usable configuration reports the internal error and ends
with exit code 1: one warning box with an empty caption and no owner."""

import os
import shutil
import unittest

import sfxtest
from sfxtest import STUB, run_stub, work_dir

ENGLISH = "Internal error. Bad download?"
JAPANESE = "内部ｴﾗｰです. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."


class StubFatalTest(sfxtest.FatalBoxAssertions, unittest.TestCase):
    def test_bare_stub_english(self):
        run = run_stub(STUB)
        self.assertFatalBox(run, ENGLISH)
        self.assertEqual(run.boxes[0].buttons, ["OK"])

    def test_bare_stub_japanese(self):
        self.assertFatalBox(run_stub(STUB, lang="ja"), JAPANESE)

    def test_signature_past_the_scan_limit(self):
        # "JAVA" beginning at offset 59,997 lies beyond the scanned range.
        folder = work_dir("fatal-past-limit")
        image = os.path.join(folder, "late-java.exe")
        with open(STUB, "rb") as f:
            data = f.read()
        self.assertLess(len(data), 59997)
        data += b"\0" * (59997 - len(data))
        data += b"JAVA" + b"\x12\x34\x56\x78" + b"\x10\0\0\0" + b"\x03\0" * 8
        with open(image, "wb") as f:
            f.write(data)
        self.assertEqual(data.index(b"JAVA"), 59997)
        self.assertFatalBox(run_stub(image), ENGLISH)

    def test_escape_and_close_still_exit_1(self):
        self.assertFatalBox(run_stub(STUB, answers=["ESC"]), ENGLISH)
        self.assertFatalBox(run_stub(STUB, answers=["CLOSE"]), ENGLISH)

    def test_copy_in_another_folder(self):
        folder = work_dir("fatal-copy")
        image = os.path.join(folder, "setup.exe")
        shutil.copy(STUB, image)
        self.assertFatalBox(run_stub(image, cwd=folder, lang="ja"), JAPANESE)


if __name__ == "__main__":
    sfxtest.main()
