"""Where the files go: every destination kind in both dialog forms, typed and
emptied destination fields, the overwrite check box, and the deletion of a
unique temporary folder, only when this run made it."""

import glob
import os
import shutil
import subprocess
import unittest
import uuid

import sfxtest
from sfxtest import PACK, STUB, run_stub, temp_folders, win_path, work_dir

IDC_START, IDC_DEST_DIR, IDC_OVERWRITE = 1001, 1005, 1006


def find_below_temp(name):
    """Every path of a file called name in a temporary folder or one level
    below it."""
    found = []
    for temp in temp_folders():
        found += glob.glob(os.path.join(temp, name)) + glob.glob(os.path.join(temp, "*", name))
    return found


class DestinationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("destination")

    def image(self, *options, folder=None):
        """An image of one uniquely named file; (image path, file name)."""
        name = "payload-%s.txt" % uuid.uuid4().hex[:12]
        source = os.path.join(self.work, "src-" + name)
        os.makedirs(source)
        with open(os.path.join(source, name), "w") as f:
            f.write("payload")
        folder = folder or self.work
        os.makedirs(folder, exist_ok=True)
        image = os.path.join(folder, name + ".exe")
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat"] + list(options) + [source],
                       check=True, stdout=subprocess.DEVNULL)
        return image, name

    def run_ok(self, image, dialog=(), cwd=None, answers=()):
        result = run_stub(image, dialog=dialog, cwd=cwd, answers=answers, controls=True)
        self.assertEqual(result.errors, [], result)
        self.assertEqual(result.exit_code, 0, result)
        return result

    def fresh(self, name):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    # ---- installer form -------------------------------------------------

    def test_installer_temp_and_image_dir(self):
        image, name = self.image("--autostart", "--dest", "temp", "--delete-after")
        self.run_ok(image)
        found = find_below_temp(name)
        # Straight into the temporary folder, which delete-after never removes.
        self.assertEqual([os.path.basename(os.path.dirname(p)) for p in found], ["Temp"])
        for p in found:
            os.remove(p)

        beside = self.fresh("beside")
        image, name = self.image("--autostart", "--dest", "image-dir", folder=beside)
        elsewhere = self.fresh("elsewhere")
        self.run_ok(image, cwd=elsewhere)
        self.assertTrue(os.path.isfile(os.path.join(beside, name)))
        self.assertEqual(os.listdir(elsewhere), [])

    def test_installer_unique_temp_is_deleted_only_with_delete_after(self):
        image, name = self.image("--autostart", "--dest", "unique-temp")
        self.run_ok(image)
        found = find_below_temp(name)
        self.assertEqual(len(found), 1, found)
        self.assertRegex(os.path.basename(os.path.dirname(found[0])), r"^PH\d{5}$")
        shutil.rmtree(os.path.dirname(found[0]))

        image, name = self.image("--autostart", "--dest", "unique-temp", "--delete-after")
        before = set(sum((glob.glob(os.path.join(t, "PH*")) for t in temp_folders()), []))
        self.run_ok(image)
        after = set(sum((glob.glob(os.path.join(t, "PH*")) for t in temp_folders()), []))
        self.assertEqual(find_below_temp(name), [])
        self.assertEqual(after, before)

    # ---- extractor form -------------------------------------------------

    def test_extractor_field_typed_prefilled_and_emptied(self):
        beside = self.fresh("x-beside")
        image, name = self.image("--extractor", "--dest", "image-dir", folder=beside)
        typed = self.fresh("x-typed")
        current = self.fresh("x-current")

        result = self.run_ok(image, dialog=["press:%d" % IDC_START], cwd=current)
        field = result.dialogs[0].control(IDC_DEST_DIR)
        self.assertEqual(field["text"], win_path(beside))
        self.assertTrue(os.path.isfile(os.path.join(beside, name)))

        self.run_ok(image, dialog=["text:%d=%s" % (IDC_DEST_DIR, win_path(typed) + "\\new"),
                                   "press:%d" % IDC_START], cwd=current)
        self.assertTrue(os.path.isfile(os.path.join(typed, "new", name)))

        self.run_ok(image, dialog=["text:%d=" % IDC_DEST_DIR, "press:%d" % IDC_START],
                    cwd=current)
        self.assertEqual(os.listdir(current), [name])

    def test_extractor_unique_temp_deleted_unless_a_folder_is_typed(self):
        image, name = self.image("--extractor", "--dest", "unique-temp", "--delete-after")
        before = set(sum((glob.glob(os.path.join(t, "PH*")) for t in temp_folders()), []))
        result = self.run_ok(image, dialog=["press:%d" % IDC_START])
        self.assertEqual(result.dialogs[0].control(IDC_DEST_DIR)["text"], "")
        after = set(sum((glob.glob(os.path.join(t, "PH*")) for t in temp_folders()), []))
        self.assertEqual(after, before)
        self.assertEqual(find_below_temp(name), [])

        typed = self.fresh("x-kept")
        self.run_ok(image, dialog=["text:%d=%s" % (IDC_DEST_DIR, win_path(typed)),
                                   "press:%d" % IDC_START])
        self.assertEqual(os.listdir(typed), [name])

    def test_extractor_overwrite_box(self):
        target = self.fresh("x-overwrite")
        image, name = self.image("--extractor", "--dest", "fixed:" + win_path(target))
        with open(os.path.join(target, name), "w") as f:
            f.write("old")
        # Box off (as configured): asked, and No keeps the file.
        result = self.run_ok(image, dialog=["press:%d" % IDC_START], answers=["No"])
        self.assertEqual([b.text for b in result.boxes], ["%s exists. Replace?" % name])
        with open(os.path.join(target, name)) as f:
            self.assertEqual(f.read(), "old")
        # Box turned on: replaced without a question.
        result = self.run_ok(image, dialog=["check:%d=1" % IDC_OVERWRITE, "press:%d" % IDC_START])
        self.assertEqual(result.boxes, [])
        with open(os.path.join(target, name)) as f:
            self.assertEqual(f.read(), "payload")


if __name__ == "__main__":
    sfxtest.main()
