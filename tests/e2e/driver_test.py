"""The driver itself, on a program that shows known message boxes."""

import unittest

import sfxtest
from sfxtest import BOXES, run_program

WARNING_OK = 0x30
YES_NO_CANCEL = 0x33
OK_CANCEL = 0x31


class DriverTest(unittest.TestCase):
    def test_reports_box_and_exit_code(self):
        run = run_program(BOXES, args=["30||Internal error. Bad download?"])
        self.assertEqual(run.errors, [])
        self.assertEqual(len(run.boxes), 1, run)
        box = run.boxes[0]
        self.assertEqual(box.caption, "")
        self.assertEqual(box.text, "Internal error. Bad download?")
        self.assertEqual(box.buttons, ["OK"])
        self.assertTrue(box.icon)
        self.assertIsNone(box.owner)
        self.assertEqual(box.pressed, "OK")
        self.assertEqual(run.exit_code, 1)  # IDOK

    def test_no_icon_multiline_and_quotes(self):
        run = run_program(BOXES, args=['0|Info|line one\\nline "two"'])
        box = run.boxes[0]
        self.assertFalse(box.icon)
        self.assertEqual(box.caption, "Info")
        self.assertEqual(box.text, 'line one\nline "two"')

    def test_presses_in_order_and_owner(self):
        run = run_program(BOXES, answers=["No", "Cancel", "ESC", "CLOSE"],
                          args=["owner=Brevant Installer", "33|Brevant Installer|a exists. Replace?",
                                "31|c|create", "33|c|escape", "31|c|close", "30|c|default"])
        self.assertEqual([b.buttons for b in run.boxes],
                         [["Yes", "No", "Cancel"], ["OK", "Cancel"], ["Yes", "No", "Cancel"],
                          ["OK", "Cancel"], ["OK"]])
        self.assertEqual([b.owner for b in run.boxes], ["Brevant Installer"] * 5)
        self.assertEqual(run.dialogs[0].title, "Brevant Installer")
        # No 7, Cancel 2, Escape = Cancel 2, close = Cancel 2, OK 1.
        self.assertEqual(run.exit_code, 0x72221)

    def test_dialog_with_label_is_not_a_box(self):
        run = run_program(BOXES, args=["dialog=Brevant Installer", "0|Brevant Installer|Hello"])
        self.assertEqual([d.title for d in run.dialogs], ["Brevant Installer"])
        ids = [c["id"] for c in run.dialogs[0].controls]
        self.assertEqual(sorted(ids), [2, 1001, 0xFFFF])
        self.assertEqual(len(run.boxes), 1, run)
        self.assertEqual(run.boxes[0].text, "Hello")
        self.assertFalse(run.boxes[0].icon)
        self.assertEqual(run.boxes[0].owner, "Brevant Installer")

    def test_japanese_buttons_found_by_answer(self):
        run = run_program(BOXES, lang="ja", answers=["No"], args=["a33||x"])
        self.assertEqual(run.boxes[0].button_ids, [6, 7, 2])
        self.assertEqual(run.exit_code, 7)

    def test_japanese_ansi_text_comes_back(self):
        text = "内部ｴﾗｰです. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."
        run = run_program(BOXES, lang="ja", args=["a30||" + text])
        self.assertEqual(run.boxes[0].text, text)
        self.assertEqual(run.exit_code, 1)

    def test_missing_button_is_an_error(self):
        run = run_program(BOXES, answers=["Retry"], args=["30||x"])
        self.assertTrue(run.errors)
        self.assertIsNone(run.exit_code)

    def test_command_line_passes_through(self):
        run = run_program(BOXES, args=["30|a b|c  \"d\" \\e"])
        self.assertEqual(run.boxes[0].caption, "a b")
        self.assertEqual(run.boxes[0].text, 'c  "d" \\e')


if __name__ == "__main__":
    sfxtest.main()
