"""Names and texts in UTF-8 under Wine's English and Japanese locales: one
image extracts the same exact names on both, its texts show the exact
characters, and names that are not valid UTF-8 or that Windows refuses get
the create-failure prompt and nothing outside the destination."""

import os
import struct
import unittest
import zlib

import sfxtest
from extract_test import Packed, read, tree, unzip_tree
from sfxtest import run_stub, win_path, work_dir, write_files

PROMPTS = {
    "en": {"exists": "%s exists. Replace?", "unzipping": "Unzipping %s",
           "create": "Couldn't create %s. Click OK to continue, or Cancel to exit immediately."},
    "ja": {"exists": "%s はすでに存在します. 上書きしますか?", "unzipping": "%s を解凍中です",
           "create": "%sを作成できません. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."},
}

# 130 CJK characters: 390 bytes of UTF-8, 130 UTF-16 units. Linux keeps a
# name part within 255 bytes, so the name has a folder.
LONG = "漢" * 64 + "/" + "字" * 66 + ".txt"

FILES = {
    "日本語フォルダ/説明書.txt": "取扱説明書\r\n".encode("utf-8") * 50,
    "Ελληνικά/αρχείο.txt": b"Greek folder, Greek name",
    "Résumé.txt": b"accented",
    "emoji \U0001F600.txt": b"a character outside the BMP, two UTF-16 units",
    "ＣＯＮ.txt": b"fullwidth letters are no device name",
    "\u202Eevil.txt": b"a right-to-left override is an ordinary character",
    LONG: b"long",
}

DESCRIPTION = "日本語とΕλληνικά、Résumé \U0001F600"
START = "Démarrage — 開始 \U0001F600"


def stored_zip(entries):
    """A ZIP of stored entries whose names are the given bytes, each with
    general-purpose bit 11 (UTF-8), the same in its local header and in the
    central directory."""
    local, central = b"", b""
    for name, data in entries:
        crc = zlib.crc32(data)
        fields = struct.pack("<HHHHHIIIHH", 20, 0x0800, 0, 0, 0x21, crc, len(data), len(data),
                             len(name), 0)
        central += (b"PK\x01\x02" + struct.pack("<H", 20) + fields
                    + struct.pack("<HHHII", 0, 0, 0, 0, len(local)) + name)
        local += b"PK\x03\x04" + fields + name + data
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(entries), len(entries),
                      len(central), len(local), 0)
    return local + central + end


class UnicodeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("unicode")
        cls.source = os.path.join(cls.work, "source")
        write_files(cls.source, FILES)
        cls.images = Packed(cls.work)

    def fresh(self, name):
        return work_dir(os.path.join("unicode", name))

    def test_one_image_gives_the_exact_names_and_texts_in_both_locales(self):
        for lang in ("en", "ja"):
            with self.subTest(lang=lang):
                dest = self.fresh("out-" + lang)
                os.makedirs(os.path.join(dest, "日本語フォルダ"))
                with open(os.path.join(dest, "日本語フォルダ", "説明書.txt"), "wb") as f:
                    f.write(b"older")
                image = self.images.pack("names-%s.exe" % lang, [self.source], "--flat",
                                         "--autostart", "--dest", "fixed:" + win_path(dest),
                                         "--description", DESCRIPTION, "--start-message", START)
                result = run_stub(image, answers=["OK", "Yes"], lang=lang, timeout=60, controls=True)
                self.assertEqual(result.errors, [], result)
                self.assertEqual([b.text for b in result.boxes],
                                 [START, PROMPTS[lang]["exists"] % "日本語フォルダ/説明書.txt"])
                # The bar shows the prompt's entry as it comes.
                bar = [c for c in result.boxes[1].owner_controls if c["class"] == "PROGRESS"]
                self.assertEqual([c["text"] for c in bar], [PROMPTS[lang]["unzipping"] % "説明書.txt"])
                self.assertEqual(result.dialogs[0].control(1004)["text"], DESCRIPTION)
                self.assertEqual(result.exit_code, 0, result)
                got = tree(dest)
                expected = {n: d for n, d in FILES.items()}
                self.assertEqual(sorted(n for n in got if not n.endswith("/")), sorted(expected))
                for name, data in expected.items():
                    self.assertEqual(got[name][0], data, name)
                reference = unzip_tree(image, self.fresh("unzip-" + lang))
                self.assertEqual(sorted(got), sorted(reference))

    def test_names_that_are_not_utf8_or_not_creatable_are_refused_alone(self):
        entries = [
            (b"first.txt", b"an ASCII name under bit 11 is unchanged"),
            (b"bad\xff.txt", b"invalid byte"),
            (b"\xc0\xae\xc0\xae/escape.txt", b"overlong dots"),
            (b"\xe0\x80\xae.txt", b"overlong dot"),
            (b"sur\xed\xa0\x80.txt", b"encoded surrogate"),
            (b"nul\x00byte.txt", b"NUL inside"),
            ("tab\there.txt".encode(), b"control character"),
            (b"A.txt", b"upper"),
            (b"a.txt", b"lower: the same file on Windows"),
            (b"last.txt", b"after the refusals"),
        ]
        archive = os.path.join(self.work, "refusals.zip")
        with open(archive, "wb") as f:
            f.write(stored_zip(entries))
        for lang in ("en", "ja"):
            with self.subTest(lang=lang):
                dest = self.fresh("refused-" + lang)
                image = self.images.around("refused-%s.exe" % lang, archive, "--autostart",
                                           "--dest", "fixed:" + win_path(dest))
                result = run_stub(image, answers=["OK"] * 6 + ["No"], lang=lang, timeout=60)
                create, exists = PROMPTS[lang]["create"], PROMPTS[lang]["exists"]
                self.assertEqual(result.errors, [], result)
                self.assertEqual([b.text for b in result.boxes],
                                 [create % "bad\uFFFD.txt",
                                  create % "\uFFFD\uFFFD\uFFFD\uFFFD/escape.txt",
                                  create % "\uFFFD\uFFFD\uFFFD.txt",
                                  create % "sur\uFFFD\uFFFD\uFFFD.txt",
                                  create % "nul?byte.txt",
                                  create % "tab?here.txt",
                                  exists % "a.txt"])
                self.assertEqual(result.exit_code, 2, result)
                self.assertEqual(sorted(tree(dest)), ["A.txt", "first.txt", "last.txt"])
                self.assertEqual(read(os.path.join(dest, "A.txt")), b"upper")
                self.assertEqual(os.listdir(self.work).count("escape.txt"), 0)


if __name__ == "__main__":
    sfxtest.main()
