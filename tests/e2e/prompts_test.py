"""The extraction prompts as a person meets them: the texts in both languages,
the buttons, and what each answer does. Cancel, Escape and the close button
end the process with exit code 1 and no further box.

The prompts are shown by prompt-probe, a small program built on the stub's own
messages layer and string table (exit codes: 10 replace, 11 keep, 12 went on)."""

import os
import unittest

import sfxtest
from sfxtest import run_program

PROBE = os.environ.get("BREVANT_PROMPT_PROBE")
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


def probe(*args, answers=(), lang="en"):
    return run_program(PROBE, answers=answers, lang=lang, args=list(args))


@unittest.skipUnless(PROBE, "prompt-probe is not built")
class ReplacePromptTest(unittest.TestCase):
    def test_names_the_entry_as_stored_with_yes_no_cancel(self):
        run = probe("replace", "docs/readme.txt", answers=["Yes"])
        self.assertEqual(len(run.boxes), 1, run)
        box = run.boxes[0]
        self.assertEqual(box.text, "docs/readme.txt exists. Replace?")
        self.assertEqual(box.button_ids, [IDYES, IDNO, IDCANCEL])
        self.assertTrue(box.icon)
        self.assertEqual(box.caption, "")
        self.assertEqual(run.exit_code, 10)

    def test_no_keeps_the_file(self):
        self.assertEqual(probe("replace", "a.txt", answers=["No"]).exit_code, 11)

    def test_cancel_escape_and_close_end_the_process_silently(self):
        for answer in ("Cancel", "ESC", "CLOSE"):
            run = probe("replace", "a.txt", answers=[answer])
            self.assertEqual(len(run.boxes), 1, (answer, run))
            self.assertEqual(run.exit_code, 1, answer)

    def test_a_per_cent_sign_in_the_name_is_shown_unchanged(self):
        run = probe("replace", "docs/50%1.txt", answers=["No"])
        self.assertEqual(run.boxes[0].text, "docs/50%1.txt exists. Replace?")

    def test_japanese(self):
        run = probe("replace", "docs/readme.txt", answers=["Yes"], lang="ja")
        self.assertEqual(run.boxes[0].text, "docs/readme.txt はすでに存在します. 上書きしますか?")
        self.assertEqual(run.exit_code, 10)


@unittest.skipUnless(PROBE, "prompt-probe is not built")
class CreateFailedPromptTest(unittest.TestCase):
    TEXT = "Couldn't create bin/tool.exe. Click OK to continue, or Cancel to exit immediately."

    def test_ok_goes_on(self):
        run = probe("create", "bin/tool.exe", answers=["OK"])
        self.assertEqual([b.text for b in run.boxes], [self.TEXT])
        self.assertEqual(run.boxes[0].button_ids, [IDOK, IDCANCEL])
        self.assertTrue(run.boxes[0].icon)
        self.assertEqual(run.exit_code, 12)

    def test_cancel_escape_and_close_end_the_process(self):
        for answer in ("Cancel", "ESC", "CLOSE"):
            run = probe("create", "bin/tool.exe", answers=[answer])
            self.assertEqual(len(run.boxes), 1, (answer, run))
            self.assertEqual(run.exit_code, 1, answer)

    def test_japanese_keeps_its_two_blanks(self):
        run = probe("create", "a.txt", answers=["OK"], lang="ja")
        self.assertEqual(run.boxes[0].text,
                         "a.txtを作成できません. OKﾎﾞﾀﾝを押すと続行します.  "
                         "ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します.")


@unittest.skipUnless(PROBE, "prompt-probe is not built")
class ReportsTest(unittest.TestCase):
    def test_bad_entry_is_a_warning_that_goes_on(self):
        run = probe("bad", "docs/a.txt", answers=["OK"])
        self.assertEqual(run.boxes[0].text, "Couldn't verify docs/a.txt.")
        self.assertEqual(run.boxes[0].button_ids, [IDOK])
        self.assertTrue(run.boxes[0].icon)
        self.assertEqual(run.exit_code, 12)

    def test_a_null_fatal_text_ends_silently_with_1(self):
        run = probe("fatal")
        self.assertEqual(run.boxes, [])
        self.assertEqual(run.exit_code, 1)

    def test_a_fatal_text_shows_one_box_then_ends_with_1(self):
        run = probe("fatal", "Error reading from archive.", answers=["OK"])
        self.assertEqual([b.text for b in run.boxes], ["Error reading from archive."])
        self.assertEqual(run.exit_code, 1)


if __name__ == "__main__":
    sfxtest.main()
