"""The main dialog as a user meets it, through the real stub under Wine: both
forms in both languages against their templates (every control, style,
rectangle and text), the texts and icon from the configuration, the hidden
progress control, the init and start messages, About, and every way of
cancelling."""

import os
import struct
import subprocess
import unittest

import sfxtest
from sfxtest import PACK, STUB, run_stub, win_path, work_dir

IDC_START, IDC_ABOUT, IDC_DEST_DIR = 1001, 1002, 1005
BANNER = "Brevant self-extracting archive"
# Without --link the link is empty, hidden and disabled: nothing to click.
NO_LINK_STYLE = (0x50020100 & ~0x10000000) | 0x08000000
DIALOG_STYLE = 0x90C800C0
# What the platform adds to a dialog of a program marked for Windows 4.0 or
# later: sibling clipping and the 3D look (DS_3DLOOK); an edit's border
# becomes its 3D client edge.
PLATFORM_DIALOG_BITS = 0x04000000 | 0x00000004
EDIT_BORDER = 0x00800000

# (class, id, style, (x, y, w, h), English text, Japanese text), template order.
INSTALLER = {
    "size": {"en": (264, 70), "ja": (264, 72)},
    "title": {"en": "Brevant Installer", "ja": "Brevant ｲﾝｽﾄｰﾗ"},
    "controls": [
        ("Button", 1001, 0x50010001, (207, 6, 50, 14), "Install", "ｲﾝｽﾄｰﾙ"),
        ("Button", 2, 0x50010000, (207, 26, 50, 14), "Cancel", "ｷｬﾝｾﾙ"),
        ("Static", 1008, 0x40020001, {"en": (11, 47, 181, 14), "ja": (8, 42, 192, 14)}, "", ""),
        ("Static", 1004, 0x50020000, (26, 5, 170, 25), None, None),
        ("Button", 1002, 0x50010000, (207, 45, 50, 14), "About", "ﾊﾞｰｼﾞｮﾝ情報"),
        ("Static", 1003, 0x50000003, (3, 7, 20, 20), "", ""),
        ("Static", 0xFFFF, 0x50020002, (0, 62, 148, 8), BANNER, BANNER),
        ("Static", 1011, NO_LINK_STYLE, (151, 62, 112, 8), "", ""),
    ],
}
EXTRACTOR = {
    "size": {"en": (264, 100), "ja": (264, 100)},
    "title": {"en": "Brevant Self-Extractor", "ja": "Brevant ｲﾝｽﾄｰﾗ"},
    "controls": [
        ("Button", 1001, 0x50010001, (207, 6, 50, 14), "Extract", "解凍"),
        ("Button", 2, 0x50010000, (207, 26, 50, 14), "Cancel", "ｷｬﾝｾﾙ"),
        ("Static", 1008, 0x50020001, (40, 74, 181, 14), "", ""),
        ("Static", 1004, 0x50020000, (26, 5, 158, 25), None, None),
        ("Static", 0xFFFF, 0x50020000, (6, 33, 124, 9), "Unzip To Directory:", "解凍するﾃﾞｨﾚｸﾄﾘ:"),
        ("Edit", 1005, 0x50810080, (6, 45, 185, 12), None, None),
        ("Button", 1006, 0x50010003, (8, 64, 122, 10), "Overwrite Files Without Prompting",
         "確認なしで上書きする"),
        ("Button", 1002, 0x50010000, (207, 45, 50, 14), "About", "ﾊﾞｰｼﾞｮﾝ情報"),
        ("Static", 1003, 0x50000003, (3, 7, 20, 20), "", ""),
        ("Static", 0xFFFF, 0x50020002, (0, 91, 148, 8), BANNER, BANNER),
        ("Static", 1011, NO_LINK_STYLE, (151, 91, 112, 8), "", ""),
    ],
}


def mul_div(a, b, c):
    """The platform's MulDiv for non-negative values: a * b / c, rounded."""
    return (a * b + c // 2) // c


def pixels(rect, units):
    """A rectangle in dialog units as the dialog manager places it in pixels:
    left, top, right, bottom."""
    x, y, w, h = rect
    cx, cy = units
    left, top = mul_div(x, cx, 4), mul_div(y, cy, 8)
    return [left, top, left + mul_div(w, cx, 4), top + mul_div(h, cy, 8)]


def write_icon(path):
    """A 32 x 32 icon file of one 32-bit image: a red square."""
    size = 32
    colours = b"\x00\x00\xff\xff" * (size * size)
    mask = b"\x00" * (size * size // 8)
    image = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    image += colours + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22))
        f.write(image)


class DialogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("dialog")
        cls.payload = os.path.join(cls.work, "payload")
        os.makedirs(cls.payload, exist_ok=True)
        with open(os.path.join(cls.payload, "file.txt"), "w") as f:
            f.write("payload")
        cls.icon = os.path.join(cls.work, "red.ico")
        write_icon(cls.icon)

    def pack(self, name, *options):
        image = os.path.join(self.work, name)
        subprocess.run([PACK, "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat"] + list(options) +
                       [self.payload], check=True, stdout=subprocess.DEVNULL)
        return image

    def assertNothingExtracted(self):
        self.assertFalse(os.path.exists(os.path.join(self.work, "file.txt")))

    def assertMatchesTemplate(self, dialog, form, lang):
        self.assertEqual(dialog.title, form["title"][lang])
        self.assertEqual(dialog.style & ~PLATFORM_DIALOG_BITS, DIALOG_STYLE)
        # The dialog's base units, found from its client size; every control
        # must then sit exactly where the template puts it.
        width, height = form["size"][lang]
        units = [(cx, cy) for cx in range(4, 30) for cy in range(8, 60)
                 if mul_div(width, cx, 4) == dialog.client[2] and
                 mul_div(height, cy, 8) == dialog.client[3]]
        self.assertTrue(units, dialog.client)
        # Placed at 40, 40 from the screen's corner, not centred.
        self.assertIn((dialog.client[0], dialog.client[1]),
                      [tuple(pixels((40, 40, 0, 0), u)[:2]) for u in units])

        controls = [c for c in dialog.controls if c["class"] != "PROGRESS"]
        self.assertEqual([(c["class"], c["id"]) for c in controls],
                         [(k, i) for k, i, *_ in form["controls"]])
        for control, (kind, id, style, rect, en, ja) in zip(controls, form["controls"]):
            with self.subTest(lang=lang, id=id, text=en):
                expected_style = style & ~EDIT_BORDER if kind == "Edit" else style
                self.assertEqual(control["style"], expected_style)
                self.assertEqual(control["visible"], bool(style & 0x10000000))
                rect = rect[lang] if isinstance(rect, dict) else rect
                placed = [pixels(rect, u) for u in units]
                if id == 1003 and control.get("has_icon"):
                    # An icon static takes the size of its icon (32 x 32).
                    placed = [[l, t, l + 32, t + 32] for l, t, _, _ in placed]
                self.assertIn(control["rect"], placed, units)
                text = en if lang == "en" else ja
                if text is not None:
                    self.assertEqual(control["text"], text)

        # The progress control: hidden over the placeholder, no tab stop.
        progress = [c for c in dialog.controls if c["class"] == "PROGRESS"]
        self.assertEqual(len(progress), 1, dialog.controls)
        self.assertEqual((progress[0]["id"], progress[0]["style"], progress[0]["visible"]),
                         (0, 0x40000000, False))
        self.assertEqual(progress[0]["rect"], dialog.control(1008)["rect"])

    def test_both_forms_in_both_languages_match_their_templates(self):
        for label, form, options in (("installer", INSTALLER, ()),
                                     ("extractor", EXTRACTOR, ("--extractor",))):
            image = self.pack(label + ".exe", "--description", "What this installs",
                              "--icon", self.icon, "--dest", "image-dir", *options)
            for lang in ("en", "ja"):
                result = run_stub(image, lang=lang, dialog=["press:2"], timeout=30)
                self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0),
                                 result)
                self.assertEqual(len(result.dialogs), 1, result)
                dialog = result.dialogs[0]
                self.assertMatchesTemplate(dialog, form, lang)
                self.assertEqual(dialog.control(1004)["text"], "What this installs")
                self.assertTrue(dialog.control(1003)["has_icon"])
                if form is EXTRACTOR:
                    self.assertEqual(dialog.control(IDC_DEST_DIR)["text"], win_path(self.work))
                self.assertNothingExtracted()

    def test_init_and_start_messages_then_the_automatic_start(self):
        dest = os.path.join(self.work, "auto")
        image = self.pack("messages.exe", "--init-message", "Before the dialog",
                          "--start-message", "The dialog is up", "--autostart",
                          "--dest", "fixed:" + win_path(dest))
        result = run_stub(image, timeout=30)
        self.assertEqual((result.errors, result.exit_code), ([], 0), result)
        # The start message is posted first and comes inside the init box's
        # loop, before the dialog is on screen: both boxes are up at once
        # (the driver may find them in either order), and the dialog is never
        # seen, as the automatic start ends it before the boxes are closed.
        kinds = [e["event"] for e in result.events if e["event"] in ("box", "dialog")]
        self.assertEqual(kinds, ["box", "box"], result.events)
        self.assertEqual(sorted(b.text for b in result.boxes),
                         ["Before the dialog", "The dialog is up"])
        for box in result.boxes:
            self.assertEqual((box.caption, box.owner, box.icon, box.button_ids),
                             ("Brevant Installer", "Brevant Installer", False, [1]))
        self.assertTrue(os.path.isfile(os.path.join(dest, "file.txt")))

        # Only a start message: it comes once the dialog is on screen.
        dest = os.path.join(self.work, "auto-start")
        image = self.pack("start.exe", "--start-message", "Ready", "--autostart",
                          "--dest", "fixed:" + win_path(dest))
        result = run_stub(image, timeout=30)
        kinds = [e["event"] for e in result.events if e["event"] in ("box", "dialog")]
        self.assertEqual(kinds, ["dialog", "box"], result.events)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(os.path.isfile(os.path.join(dest, "file.txt")))

    def test_about_and_every_way_of_cancelling(self):
        image = self.pack("about.exe", "--about", "Brevant test build 7", "--dest", "image-dir")
        result = run_stub(image, dialog=["press:%d" % IDC_ABOUT, "close"], timeout=30)
        self.assertEqual((result.errors, result.exit_code), ([], 0), result)
        self.assertEqual([(b.text, b.caption, b.icon, b.button_ids) for b in result.boxes],
                         [("Brevant test build 7", "Brevant Installer", False, [1])])
        self.assertNothingExtracted()

        empty = self.pack("empty-about.exe", "--dest", "image-dir")
        result = run_stub(empty, dialog=["press:%d" % IDC_ABOUT, "press:2"], timeout=30)
        self.assertEqual([b.text for b in result.boxes], [""])
        self.assertEqual(result.exit_code, 0)

        for action in ("escape", "close", "press:2"):
            with self.subTest(action=action):
                result = run_stub(empty, dialog=[action], timeout=30)
                self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0),
                                 result)
                self.assertNothingExtracted()


if __name__ == "__main__":
    sfxtest.main()
