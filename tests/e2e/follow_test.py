"""The follow-up program through the real stub under Wine: the command runs
in the destination, a unique temporary folder lives exactly as long as the
command and the wait file need it, a command that cannot start ends the run,
and a wait file held by another process keeps the dialog closed to input
until it is released."""

import glob
import os
import shutil
import subprocess
import unittest

import sfxtest
from sfxtest import (FOLLOW_PROBE as PROBE, INSTALL_FAILED, PACK, STUB, run_stub, temp_folders,
                     win_path, work_dir)
from sfxtest import read_text as read


def to_host(windows_path):
    """A path the probe wrote (C:\\... in the prefix, or Z:\\... for the host)."""
    drive, rest = windows_path[0].upper(), windows_path[2:].replace("\\", "/").lstrip("/")
    if drive == "Z":
        return "/" + rest
    return os.path.join(sfxtest.prefix(), "drive_" + drive.lower(), rest)


class FollowUpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("follow")
        cls.payload = os.path.join(cls.work, "payload")
        os.makedirs(cls.payload, exist_ok=True)
        shutil.copy(PROBE, os.path.join(cls.payload, "follow-probe.exe"))

    def pack(self, name, *options):
        image = os.path.join(self.work, name)
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat", "--autostart"] +
                       list(options) + [self.payload], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return image

    def out(self, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            os.remove(path)
        return path

    def test_unique_temp_folder_is_the_commands_folder_and_is_deleted_after(self):
        temp = temp_folders()[0]
        made = []
        for n in range(1, 5):
            path = os.path.join(temp, "PH%05d" % n)
            if not os.path.isdir(path):
                os.makedirs(path)
                made.append(path)
        try:
            record = self.out("record.txt")
            image = self.pack("record.exe", "--dest", "unique-temp", "--delete-after",
                              "--run", "follow-probe.exe record " + win_path(record))
            result = run_stub(image, timeout=60)
            self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
            folder = read(record)
            self.assertRegex(folder, r"\\PH0000[5-9]$")
            # PH00001 to PH00004 are taken; the run made the next one and
            # deleted it after the command.
            if not os.path.isdir(os.path.join(temp, "PH00005")):
                self.assertTrue(folder.endswith("PH00005"), folder)
            self.assertFalse(os.path.exists(to_host(folder)))
        finally:
            for path in made:
                shutil.rmtree(path, ignore_errors=True)

    def test_a_command_that_cannot_start_ends_the_run_and_keeps_the_files(self):
        dest = os.path.join(self.work, "kept")
        shutil.rmtree(dest, ignore_errors=True)
        image = self.pack("missing.exe", "--dest", "fixed:" + win_path(dest),
                          "--run", "no-such-program.exe")
        result = run_stub(image, timeout=60)
        self.assertEqual([(b.text, b.icon) for b in result.boxes], [(INSTALL_FAILED, True)])
        self.assertEqual(result.exit_code, 1)
        self.assertTrue(os.path.isfile(os.path.join(dest, "follow-probe.exe")))

    def test_a_held_wait_file_keeps_the_dialog_disabled_until_released(self):
        dest = os.path.join(self.work, "held")
        shutil.rmtree(dest, ignore_errors=True)
        mark = self.out("released.txt")
        image = self.pack("held.exe", "--dest", "fixed:" + win_path(dest), "--wait-file",
                          "lock.txt", "--run",
                          "follow-probe.exe spawn-hold lock.txt 1500 " + win_path(mark))
        result = run_stub(image, timeout=60)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        # The holder wrote its mark just before it released the file: the
        # stub was still waiting then, and its dialog was disabled all along.
        self.assertEqual(read(mark), "disabled")

    def test_a_destination_that_cannot_be_entered_runs_nothing(self):
        # A file where the destination folder should be: nothing can be
        # extracted (each entry is refused with OK) and nothing runs.
        blocker = os.path.join(self.work, "blocker")
        with open(blocker, "w") as f:
            f.write("a file, not a folder")
        record = self.out("never.txt")
        image = self.pack("blocked.exe", "--dest", "fixed:" + win_path(blocker) + "\\sub",
                          "--run", "follow-probe.exe record " + win_path(record))
        result = run_stub(image, timeout=60)
        self.assertEqual(result.exit_code, 2, result)  # nothing could be extracted
        self.assertTrue(all(b.text.startswith("Couldn't create") for b in result.boxes), result)
        self.assertFalse(os.path.exists(record))


if __name__ == "__main__":
    sfxtest.main()
