"""The web link and the 3D-controls library through the real stub under
Wine. A click on the link reaches the shell, observed through Wine's browser
setting pointed at a script that records what it was asked to open; a double
click opens it once. A stand-in CTL3D32.DLL in the system folder records the
calls in their order; one next to the stub is never loaded."""

import json
import os
import shutil
import subprocess
import time
import unittest

import sfxtest
from sfxtest import PACK, STUB, run_stub, work_dir

LINK = "https://brevant.example/"
IDC_LINK = 1011
WM_SYSCOLORCHANGE = 0x15
CTL3D = os.environ.get("BREVANT_CTL3D_PROBE") or os.path.join(
    sfxtest.TREE, "tests", "e2e", "ctl3d32.dll")


def wine_reg(*args):
    subprocess.run([sfxtest.WINE_RUN, "reg"] + list(args), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Images:
    def __init__(self, name):
        self.work = work_dir(name)
        self.payload = os.path.join(self.work, "payload")
        os.makedirs(self.payload, exist_ok=True)
        with open(os.path.join(self.payload, "file.txt"), "w") as f:
            f.write("payload")

    def pack(self, name, *options):
        image = os.path.join(self.work, name)
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat", "--dest", "image-dir", "--link", LINK] +
                       list(options) + [self.payload], check=True, stdout=subprocess.DEVNULL)
        return image


class LinkTest(unittest.TestCase):
    KEY = r"HKCU\Software\Wine\WineBrowser"

    @classmethod
    def setUpClass(cls):
        cls.images = Images("link")
        cls.opened = os.path.join(cls.images.work, "opened.txt")
        cls.browser = os.path.join(cls.images.work, "record-browser.sh")
        with open(cls.browser, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' % cls.opened)
        os.chmod(cls.browser, 0o755)
        wine_reg("add", cls.KEY, "/v", "Browsers", "/d", cls.browser, "/f")

    @classmethod
    def tearDownClass(cls):
        wine_reg("delete", cls.KEY, "/v", "Browsers", "/f")

    def opened_after(self, actions):
        if os.path.exists(self.opened):
            os.remove(self.opened)
        image = self.images.pack("link.exe")
        result = run_stub(image, dialog=actions + ["close"], timeout=60)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        # The browser runs detached from the stub: give it a moment.
        for _ in range(50):
            if os.path.exists(self.opened):
                break
            time.sleep(0.1)
        time.sleep(0.5)
        if not os.path.exists(self.opened):
            return []
        with open(self.opened) as f:
            return f.read().split()

    def test_a_click_opens_the_link_and_a_double_click_opens_it_once(self):
        self.assertEqual(self.opened_after(["click:%d" % IDC_LINK]), [LINK])
        self.assertEqual(self.opened_after(["dblclick:%d" % IDC_LINK]), [LINK])
        self.assertEqual(self.opened_after([]), [])


class LinkCursorTest(unittest.TestCase):
    """The pointer over the link shows the hand: read from the X server, as
    screenshots carry no pointer."""

    @classmethod
    def setUpClass(cls):
        cls.images = Images("link-cursor")
        cls.tool = os.path.join(cls.images.work, "x-cursor")
        subprocess.run(["cc", "-O2", "-o", cls.tool,
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), "x_cursor.c"),
                        "-lX11", "-lXfixes"], check=True)

    def cursor_at(self, x, y):
        out = subprocess.run([self.tool, sfxtest.display(), str(x), str(y)],
                             stdout=subprocess.PIPE, check=True).stdout
        return json.loads(out)

    def dialog_on_screen(self, title):
        """Whether a window of that title is mapped on the bed's display."""
        tree = subprocess.run(["xwininfo", "-display", sfxtest.display(), "-root", "-tree"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
        return ('"%s"' % title) in tree

    def test_the_pointer_over_the_link_is_the_hand(self):
        image = self.images.pack("cursor.exe")
        # Where the controls are: the dialog always opens at the same place.
        first = run_stub(image, dialog=["press:2"], timeout=60)
        dialog = first.dialogs[0]

        def centre(id):
            l, t, r, b = dialog.control(id)["rect"]
            return dialog.client[0] + (l + r) // 2, dialog.client[1] + (t + b) // 2

        # The driver reports only when the program has ended, so the pointer
        # is moved while it holds the dialog open.
        command = [sfxtest.WINE_RUN, sfxtest.DRIVER, "--timeout", "60", "--dialog", "wait:8000",
                   "--dialog", "close", "--", sfxtest.win_path(image)]
        driver = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL)
        try:
            for _ in range(100):
                if self.dialog_on_screen(dialog.title):
                    break
                time.sleep(0.1)
            time.sleep(1)  # its first paint, and its message loop running
            hand = self.cursor_at(*centre(IDC_LINK))
            button = self.cursor_at(*centre(1001))
        finally:
            driver.communicate(timeout=90)
        # 32 x 32, hot spot at the finger tip, which is black; white fill.
        self.assertEqual((hand["width"], hand["height"], hand["hotspot"], hand["at_hotspot"]),
                         (32, 32, [6, 0], "black"), hand)
        self.assertGreater(hand["white"], 50)
        self.assertNotEqual((button["hotspot"], button["width"]), ([6, 0], 32), button)


class Ctl3dTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.images = Images("ctl3d")
        cls.log = os.path.join(cls.images.work, "ctl3d.log")
        cls.installed = os.path.join(sfxtest.prefix(), "drive_c", "windows", "system32",
                                     "ctl3d32.dll")
        # Wine's own placeholder of that name, put back afterwards.
        cls.saved = os.path.join(cls.images.work, "ctl3d32.dll.saved")
        if os.path.exists(cls.installed):
            shutil.copy(cls.installed, cls.saved)
        shutil.copy(CTL3D, cls.installed)

    @classmethod
    def tearDownClass(cls):
        os.remove(cls.installed)
        if os.path.exists(cls.saved):
            shutil.move(cls.saved, cls.installed)

    def calls(self, image, dialog, refuse=False):
        if os.path.exists(self.log):
            os.remove(self.log)
        # Wine has a library of that name of its own: the one in the system
        # folder is to be taken instead.
        env = {"BREVANT_CTL3D_LOG": sfxtest.win_path(self.log), "WINEDLLOVERRIDES": "ctl3d32=n"}
        if refuse:
            env["BREVANT_CTL3D_REFUSE"] = "1"
        result = run_stub(image, dialog=dialog, env=env, timeout=60)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().split("\n")[:-1]

    def test_the_library_is_registered_around_the_dialog_and_told_of_colour_changes(self):
        image = self.images.pack("ctl3d.exe", "--ctl3d")
        self.assertEqual(self.calls(image, ["post:%d" % WM_SYSCOLORCHANGE, "press:2"]),
                         ["load", "register", "autosubclass", "colorchange", "unregister",
                          "unload"])
        # Registration refused: nothing more is asked of it, and it is still
        # unloaded.
        self.assertEqual(self.calls(image, ["post:%d" % WM_SYSCOLORCHANGE, "press:2"], refuse=True),
                         ["load", "register refused", "unload"])
        # Not asked for: never loaded.
        plain = self.images.pack("plain.exe")
        self.assertEqual(self.calls(plain, ["press:2"]), [])

    def test_a_library_beside_the_stub_is_never_loaded(self):
        os.remove(self.installed)
        try:
            image = self.images.pack("beside.exe", "--ctl3d")
            shutil.copy(CTL3D, os.path.join(self.images.work, "ctl3d32.dll"))
            self.assertEqual(self.calls(image, ["press:2"]), [])
        finally:
            shutil.copy(CTL3D, self.installed)


if __name__ == "__main__":
    sfxtest.main()
