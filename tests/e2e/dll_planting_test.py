"""DLL planting: DLLs left next to the stub (a downloads folder) under the
names of DLLs the process may load by name are not loaded. Each planted copy
is a DLL that leaves "<its path>.loaded" when it is loaded."""

import os
import shutil
import unittest

import sfxtest
from sfxtest import STUB, run_stub, work_dir

PLANT_DLL = os.environ.get("BREVANT_PLANT_DLL") or os.path.join(
    sfxtest.TREE, "tests", "win32", "brvplant.dll")

# The shell and 3D-controls libraries the program loads by name, and DLLs
# that the system's user interface code may load by name on its behalf.
NAMES = ["shell32.dll", "ctl3d32.dll", "uxtheme.dll", "dwmapi.dll", "version.dll",
         "comctl32.dll", "imm32.dll", "msctf.dll", "cryptbase.dll", "profapi.dll",
         "textshaping.dll", "winmm.dll"]


class DllPlantingTest(unittest.TestCase):
    def plant(self, name):
        folder = work_dir(name)
        image = os.path.join(folder, "setup.exe")
        shutil.copy(STUB, image)
        for dll in NAMES:
            shutil.copy(PLANT_DLL, os.path.join(folder, dll))
        return folder, image

    def assertNothingLoaded(self, folder):
        markers = sorted(f for f in os.listdir(folder) if f.endswith(".loaded"))
        self.assertEqual(markers, [])

    def test_fatal_path_loads_no_planted_dll(self):
        for lang in ("en", "ja"):
            folder, image = self.plant("planted-" + lang)
            run = run_stub(image, lang=lang, cwd=folder)
            self.assertEqual(len(run.boxes), 1, run)
            self.assertEqual(run.exit_code, 1)
            self.assertNothingLoaded(folder)


if __name__ == "__main__":
    sfxtest.main()
