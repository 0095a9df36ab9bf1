"""Programs planted where a downloaded setup runs: a program of the
command's name beside the image (a downloads folder) or in a folder on PATH
never runs in place of the extracted one, however the command names it; and
an elevated run's folder keeps other programs out while the command runs."""

import glob
import os
import shutil
import subprocess
import unittest

import sfxtest
from sfxtest import (FOLLOW_PROBE as PROBE, INSTALL_FAILED, PACK, STUB, run_stub, temp_folders,
                     win_path, work_dir)
from sfxtest import read_text as read


class ProgramPlantingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("planting")
        cls.payload = os.path.join(cls.work, "payload")
        cls.on_path = os.path.join(cls.work, "on-path")
        for folder in (cls.payload, cls.on_path):
            os.makedirs(folder, exist_ok=True)
        shutil.copy(PROBE, os.path.join(cls.payload, "tool.exe"))
        # The planted programs: the same probe, so that each reports where
        # it runs from.
        shutil.copy(PROBE, os.path.join(cls.work, "tool.exe"))
        shutil.copy(PROBE, os.path.join(cls.work, "elsewhere.exe"))
        shutil.copy(PROBE, os.path.join(cls.on_path, "tool.exe"))

    def setUp(self):
        self.folders = self.unique_folders()

    def tearDown(self):
        # A run that ends in a fatal box leaves its folder: other tests
        # count on the names that they find free.
        for folder in self.unique_folders() - self.folders:
            shutil.rmtree(folder, ignore_errors=True)

    @staticmethod
    def unique_folders():
        return {p for temp in temp_folders() for p in glob.glob(os.path.join(temp, "PH?????"))}

    def pack(self, name, command, *options):
        image = os.path.join(self.work, name)
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH,
                        "--flat", "--autostart", "--dest", "unique-temp", "--delete-after",
                        "--run", command] +
                       list(options) + [self.payload], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return image

    def record(self):
        path = os.path.join(self.work, "record.txt")
        if os.path.exists(path):
            os.remove(path)
        return path

    def run_planted(self, image):
        # The planted folder leads PATH, ahead of the system's folders.
        return run_stub(image, timeout=60, env={"WINEPATH": win_path(self.on_path)})

    def test_only_the_extracted_program_runs_however_it_is_named(self):
        record = self.record()
        for command, arguments in (("tool.exe where %s", ""),
                                   ("tool where %s a b", " a b"),
                                   ('"tool.exe" where %s "a b"', " a b")):
            with self.subTest(command=command):
                image = self.pack("planted.exe", command % win_path(record))
                result = self.run_planted(image)
                self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0),
                                 result)
                ran = read(record)
                self.assertRegex(ran, r"\\PH\d{5}\\tool\.exe" + arguments + "$")
                os.remove(record)

    def test_a_program_found_only_beside_the_image_is_never_run(self):
        record = self.record()
        image = self.pack("elsewhere-run.exe", "elsewhere.exe where " + win_path(record))
        result = self.run_planted(image)
        self.assertEqual([(b.text, b.icon) for b in result.boxes], [(INSTALL_FAILED, True)])
        self.assertEqual(result.exit_code, 1)
        self.assertFalse(os.path.exists(record))

    def test_an_elevated_runs_folder_is_protected_and_held_while_the_command_runs(self):
        # Wine gives every program an administrator's full token, whatever
        # the manifest asks: this run takes the elevated path.
        record = self.record()
        image = self.pack("elevated.exe", "tool.exe held " + win_path(record),
                          "--execution-level", "requireAdministrator")
        result = run_stub(image, timeout=60)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        self.assertEqual(read(record), "entries=2 held")
        self.assertEqual(self.unique_folders() - self.folders, set(), "the clean-up removes it")


if __name__ == "__main__":
    sfxtest.main()
