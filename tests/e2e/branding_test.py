"""A setup that is the publisher's own, through the real stub under Wine: the
title, banner and link written into the dialogs in English and Japanese (with
a screenshot of each into docs/screenshots/ when the test bed can take one),
the title as the caption of the stub's message boxes, and a fixed
destination under %LOCALAPPDATA% that the stub expands; one that does not
expand gets one box and writes nothing."""

import glob
import os
import shutil
import subprocess
import threading
import time
import unittest
import uuid

import sfxtest
from sfxtest import PACK, STUB, run_stub, work_dir

IDC_ABOUT, IDC_LINK, IDC_BANNER = 1002, 1011, -1
SHOTS = os.path.join(sfxtest.ROOT, "docs", "screenshots")
TITLE = {"en": "Acme Tools Setup", "ja": "Acme ﾂｰﾙ ｾｯﾄｱｯﾌﾟ"}
BANNER = {"en": "Acme Tools 2.4 for Windows", "ja": "Acme ﾂｰﾙ 2.4 Windows 版"}
LINK = {"en": "https://tools.acme.example/", "ja": "https://tools.acme.example/ja/"}


def screenshot(title, path, done):
    """Once a window of that title is on the bed's display, saves the Wine
    desktop to path."""
    shown = False
    for _ in range(200):
        tree = subprocess.run(["xwininfo", "-display", sfxtest.display(), "-root", "-tree"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
        if ('"%s' % title.split()[0]) in tree:
            shown = True
            break
        time.sleep(0.1)
    time.sleep(1.5)  # its first paint
    if shown and shutil.which("import"):
        subprocess.run(["import", "-display", sfxtest.display(), "-window", "root",
                        "-crop", "560x260+0+0", "+repage", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    done.append(shown)


class BrandingTest(unittest.TestCase, sfxtest.FatalBoxAssertions):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("branding")
        cls.payload = os.path.join(cls.work, "payload")
        os.makedirs(cls.payload)
        with open(os.path.join(cls.payload, "file.txt"), "w") as f:
            f.write("payload")

    def pack(self, name, *options):
        image = os.path.join(self.work, name)
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat"] +
                       list(options) + [self.payload], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return image

    def test_title_banner_and_link_in_both_languages(self):
        image = self.pack("branded.exe", "--title", TITLE["en"], "--title-ja", TITLE["ja"],
                          "--banner", BANNER["en"], "--banner-ja", BANNER["ja"],
                          "--link", LINK["en"], "--link-ja", LINK["ja"], "--about", "Acme",
                          "--dest", "image-dir")
        for lang in ("en", "ja"):
            with self.subTest(lang=lang):
                shot = os.path.join(SHOTS, "branded-%s.png" % lang)
                done = []
                shooter = threading.Thread(target=screenshot, args=(TITLE[lang], shot, done))
                shooter.start()
                result = run_stub(image, lang=lang, controls=True, desktop="branded,640x420",
                                  dialog=["wait:4000", "press:%d" % IDC_ABOUT, "press:2"])
                shooter.join()
                self.assertEqual((result.errors, result.exit_code), ([], 0), result)
                dialog = result.dialogs[0]
                self.assertEqual(dialog.title, TITLE[lang])
                self.assertEqual(dialog.control(IDC_BANNER)["text"], BANNER[lang])
                link = dialog.control(IDC_LINK)
                self.assertEqual((link["text"], link["visible"]), (LINK[lang], True))
                # The About box carries the title as its caption.
                self.assertEqual([(b.caption, b.text) for b in result.boxes], [(TITLE[lang], "Acme")])
                self.assertEqual(done, [True])

    def test_without_a_link_none_is_shown_or_clickable(self):
        image = self.pack("plain.exe", "--product", "Acme Tools", "--dest", "image-dir")
        for lang in ("en", "ja"):
            result = run_stub(image, lang=lang, controls=True, dialog=["click:%d" % IDC_LINK, "press:2"])
            self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
            dialog = result.dialogs[0]
            link = dialog.control(IDC_LINK)
            self.assertEqual((link["text"], link["visible"], link["enabled"]), ("", False, False))
            # Without --banner, the product's name.
            self.assertEqual(dialog.control(IDC_BANNER)["text"], "Acme Tools")

    def test_a_destination_under_localappdata_is_expanded(self):
        name = "Demo-%s" % uuid.uuid4().hex[:10]
        image = self.pack("local.exe", "--autostart", "--dest", "fixed:%LOCALAPPDATA%\\Programs\\" + name)
        result = run_stub(image)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        users = os.path.join(sfxtest.prefix(), "drive_c", "users", "*", "AppData", "Local", "Programs")
        found = glob.glob(os.path.join(users, name, "file.txt"))
        self.assertEqual(len(found), 1, found)
        shutil.rmtree(os.path.dirname(found[0]))

        # The extractor form's field shows the expanded folder.
        image = self.pack("local-x.exe", "--extractor", "--dest", "fixed:%LOCALAPPDATA%\\Programs\\" + name)
        result = run_stub(image, controls=True, dialog=["press:2"])
        field = result.dialogs[0].control(1005)["text"]
        self.assertRegex(field, r"^C:\\users\\[^\\]+\\AppData\\Local\\Programs\\" + name + "$")

    def test_a_reference_that_does_not_expand_gets_one_box_and_writes_nothing(self):
        name = "Demo-%s" % uuid.uuid4().hex[:10]
        folder = "%BREVANT_NO_SUCH_FOLDER%\\" + name
        image = self.pack("unset.exe", "--autostart", "--extractor", "--dest", "fixed:" + folder)
        result = run_stub(image, cwd=self.work)
        # Before the dialog: no caption yet, no owner.
        self.assertFatalBox(result, "The folder %s cannot be extracted to. Nothing was extracted." % folder)
        self.assertEqual(glob.glob(os.path.join(self.work, "*BREVANT_NO_SUCH*")), [])
        self.assertEqual(glob.glob(os.path.join(sfxtest.prefix(), "drive_c", "**", name), recursive=True), [])


if __name__ == "__main__":
    sfxtest.main()
