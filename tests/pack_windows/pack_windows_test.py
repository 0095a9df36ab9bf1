"""brevant-pack.exe under 64-bit Wine against the Linux packer: the same
images, byte for byte, from the same inputs and --mtime, which the stub
extracts; the same refusals with the same exit codes; no temporary file left
behind by Ctrl+C.

CTest runs it in the x64 Windows tree (BREVANT_PACK_EXE, BREVANT_PACK); by
hand: scripts/wine-bed start with BREVANT_TEST_ARCH=x64, then this file.
"""

import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
import sfxtest  # noqa: E402

PACK_EXE = os.environ.get("BREVANT_PACK_EXE") or os.path.join(sfxtest.BUILD, "bin", "brevant-pack.exe")
MTIME = "2024-05-06T07:08:09"


def linux(*args, cwd):
    return subprocess.run([sfxtest.PACK, *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def windows(*args, cwd):
    return subprocess.run([sfxtest.WINE_RUN, PACK_EXE, *args], cwd=cwd, capture_output=True, text=True,
                          timeout=120)


files = sfxtest.write_files


class WindowsPacker(unittest.TestCase):
    def setUp(self):
        self.work = sfxtest.work_dir("pack-windows-" + self._testMethodName)

    def test_the_same_image_as_on_linux(self):
        files(self.work, {
            "latin/café/naïve.txt": b"caf\xc3\xa9\n" * 300,
            "latin/Ünïcödé €.txt": b"x",
            "japan/日本/ソフト.txt": b"so",
            "japan/日本/データ.txt": b"\xe3\x83\x87\n" * 5000,
            "japan/ｶﾅ.bin": os.urandom(70000),
            "japan/empty/.keep": b"",
            "unicode/日本語フォルダ/説明書.txt": "説明".encode() * 1000,
            "unicode/Ελληνικά.txt": b"g",
            "unicode/Résumé.txt": b"r",
            "unicode/🎉 party.txt": b"e"})
        with open(os.path.join(self.work, "about.txt"), "wb") as f:
            f.write("Über 🎉\n".encode())
        sample = os.path.join(sfxtest.ROOT, "demo", "sample")
        dest = os.path.join(self.work, "extracted")
        japan = ["--codepage", "932", "--arch", "x64", "--autostart", "--dest", "fixed:" + sfxtest.win_path(dest) + "\\",
                 "japan"]
        # UTF-8, the default: texts from the command line (UTF-16 on Windows) and from a file.
        unicode = ["--arch", "x64", "--autostart", "--overwrite", "--description", "Ελληνικά 日本語 🎉", "--about", "@about.txt",
                   "--dest", "fixed:" + sfxtest.win_path(dest) + "\\", "unicode"]
        for name, args in [("sample", [sample]), ("latin", ["--codepage", "1252", "latin"]), ("japan", japan),
                           ("unicode", unicode)]:
            with self.subTest(name):
                ours, theirs = name + "-win.exe", name + "-linux.exe"
                w = windows("--mtime", MTIME, "-o", ours, *args, cwd=self.work)
                self.assertEqual(w.returncode, 0, w.stderr)
                l = linux("--mtime", MTIME, "-o", theirs, *args, cwd=self.work)
                self.assertEqual(l.returncode, 0, l.stderr)
                self.assertEqual(w.stdout.replace(ours, theirs), l.stdout)
                with open(os.path.join(self.work, ours), "rb") as a, open(os.path.join(self.work, theirs), "rb") as b:
                    self.assertTrue(a.read() == b.read(), name + ": the images differ")
                # Every entry decodes in the stub's own decoder, and ZIP tools read it.
                codepage = args[1:2] if args[0] == "--codepage" else []
                d = linux("--describe", ours, *(["--codepage"] + codepage if codepage else []), cwd=self.work)
                self.assertEqual(d.returncode, 0, d.stdout + d.stderr)
                u = subprocess.run(["unzip", "-tq", ours], cwd=self.work, capture_output=True, text=True)
                self.assertEqual(u.returncode, 0, u.stdout + u.stderr)
        # And the x64 stub extracts the last one, names and all, in a Japanese locale.
        run = sfxtest.run_stub(os.path.join(self.work, "japan-win.exe"), lang="ja")
        self.assertEqual((run.errors, run.exit_code), ([], 0), run)
        with open(os.path.join(dest, "japan", "日本", "データ.txt"), "rb") as f:
            self.assertEqual(f.read(), b"\xe3\x83\x87\n" * 5000)
        self.assertTrue(os.path.isfile(os.path.join(dest, "japan", "日本", "ソフト.txt")))
        # The UTF-8 one in an English and in a Japanese locale: every name exact.
        for lang in ["en", "ja"]:
            shutil.rmtree(os.path.join(dest, "unicode"), ignore_errors=True)
            run = sfxtest.run_stub(os.path.join(self.work, "unicode-win.exe"), lang=lang)
            self.assertEqual((run.errors, run.exit_code), ([], 0), run)
            found = sorted(os.path.relpath(os.path.join(top, name), os.path.join(dest, "unicode"))
                           for top, _, names in os.walk(os.path.join(dest, "unicode")) for name in names)
            self.assertEqual(found, sorted(["日本語フォルダ/説明書.txt", "Ελληνικά.txt", "Résumé.txt", "🎉 party.txt"]),
                             lang)
            with open(os.path.join(dest, "unicode", "日本語フォルダ", "説明書.txt"), "rb") as f:
                self.assertEqual(f.read(), "説明".encode() * 1000)

    def test_the_same_image_for_any_number_of_threads(self):
        # demo/sample and a mixed tree (text, noise, empty files and folders,
        # and at levels 1 and 6 one file of two pieces), at levels 1, 6 and 12,
        # on 1, 2, 3 and 8 threads: one image per level, from either packer.
        rng = random.Random(5)
        mixed = {"mixed/t%03d.txt" % i: b"word %d " % (i * i) * rng.randrange(1, 4000) for i in range(80)}
        mixed.update({"mixed/noise/n%02d.bin" % i: rng.randbytes(rng.randrange(0, 90000)) for i in range(20)})
        mixed["mixed/empty/.keep"] = b""
        mixed["mixed/large.bin"] = (b"large " + rng.randbytes(10)) * ((17 << 20) // 16)
        files(self.work, mixed)
        shutil.copytree(os.path.join(sfxtest.ROOT, "demo", "sample"), os.path.join(self.work, "sample"))
        for level in ["1", "6", "12"]:
            if level == "12":
                os.remove(os.path.join(self.work, "mixed", "large.bin"))  # minutes at level 12 under Wine
            images = set()
            for jobs in ["1", "2", "3", "8"]:
                for name, pack in [("linux", linux), ("windows", windows)]:
                    with self.subTest(level=level, jobs=jobs, packer=name):
                        out = "%s-%s-%s.exe" % (name, level, jobs)
                        r = pack("--mtime", MTIME, "--level", level, "--jobs", jobs, "-q", "-o", out, "sample",
                                 "mixed", cwd=self.work)
                        self.assertEqual(r.returncode, 0, r.stderr)
                        with open(os.path.join(self.work, out), "rb") as f:
                            images.add(f.read())
                        os.remove(os.path.join(self.work, out))
            self.assertEqual(len(images), 1, "level %s: the images differ" % level)
        shutil.rmtree(self.work)

    def test_the_same_refusals_as_on_linux(self):
        files(self.work, {"app/CON": b"a", "yen/a\u00a5b.txt": b"b", "han/\u65e5.txt": b"c", "c1/a\u0081b.txt": b"d",
                          "sample/x.txt": b"x", "old.exe": b"keep"})
        outputs = ["nul", "con", "COM1.exe", "CONOUT$", "out.exe.", "out.exe ", "sample/x.txt::$DATA", "o.exe:s",
                   "sample/", "sample"]
        for args in [["-o", "d.exe", "app"], ["--codepage", "932", "-o", "y.exe", "yen"],
                     ["--codepage", "1252", "-o", "h.exe", "han"], ["--codepage", "1252", "-o", "c.exe", "c1"],
                     ["-o", "old.exe", "sample"],
                     ["-o", "m.exe", "missing", "sample", "gone"],
                     ["--file-version", "", "-o", "v.exe", "sample"]] + [
                     ["--codepage", str(c), "-o", "n.exe", "sample"] for c in [1, 37, 10000, 20127, 20932, 28591,
                                                                              65000, 65001]] + [
                     ["--force", "-o", o, "sample"] for o in outputs]:
            with self.subTest(" ".join(args)):
                w, l = windows(*args, cwd=self.work), linux(*args, cwd=self.work)
                self.assertNotEqual(l.returncode, 0)
                self.assertEqual((w.returncode, w.stderr), (l.returncode, l.stderr.replace("iconv", "Windows")))
                self.assertEqual(sorted(os.listdir(self.work)), ["app", "c1", "han", "old.exe", "sample", "yen"])
        with open(os.path.join(self.work, "old.exe"), "rb") as f:
            self.assertEqual(f.read(), b"keep")

    def test_only_its_own_stale_temporary_files_are_removed(self):
        # Beside the output: an image's beginning under the temporary name of
        # a process that is gone goes once the output is written; the same
        # under process id 1 or 0, which Windows has no process of, and an
        # earlier packer's NAME.tmp- name are kept.
        files(self.work, {"sample/x.txt": b"x"})
        l = linux("--mtime", MTIME, "-o", "image.exe", "sample", cwd=self.work)
        self.assertEqual(l.returncode, 0, l.stderr)
        with open(os.path.join(self.work, "image.exe"), "rb") as f:
            image = f.read()
        stale = "s.exe.brevant-tmp-99999-a1B2c3"
        kept = ["s.exe.brevant-tmp-1-b1B2c3", "s.exe.brevant-tmp-0-c1B2c3", "s.exe.tmp-backup"]
        for name in [stale] + kept:
            with open(os.path.join(self.work, name), "wb") as f:
                f.write(image)
        w = windows("-o", "s.exe", "sample", cwd=self.work)
        self.assertEqual(w.returncode, 0, w.stderr)
        self.assertEqual(sorted(os.listdir(self.work)), sorted(["image.exe", "s.exe", "sample"] + kept))

    def test_ctrl_c_leaves_no_temporary_file(self):
        files(self.work, {"big/a.bin": os.urandom(1 << 20) * 150})
        env = dict(os.environ, WINEPREFIX=sfxtest.prefix(), DISPLAY=sfxtest.display(), WINEDEBUG="-all")
        packer = subprocess.Popen(["/usr/lib/wine/wine64", PACK_EXE, "-o", "big.exe", "big"], cwd=self.work,
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            temporary = os.path.join(self.work, "big.exe.brevant-tmp-*")
            deadline = time.time() + 60
            while not glob.glob(temporary) and packer.poll() is None and time.time() < deadline:
                time.sleep(0.05)
            self.assertTrue(glob.glob(temporary), "the packer made no temporary file")
            time.sleep(0.5)
            packer.send_signal(signal.SIGINT)  # Wine delivers it as CTRL_C_EVENT
            packer.wait(timeout=60)
        finally:
            if packer.poll() is None:
                packer.kill()
        self.assertEqual(packer.returncode, 130, "the exit code of Ctrl+C, as on Linux")
        # The packer deletes its temporary file with its own handles still
        # open: the name goes when they close. Windows closes a process's
        # handles before the process counts as ended; Wine's server closes
        # them only after the Linux process is gone, so a loaded machine may
        # list the name for a moment after the exit.
        deadline = time.time() + 20
        while sorted(os.listdir(self.work)) != ["big"] and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(sorted(os.listdir(self.work)), ["big"])
        shutil.rmtree(self.work)  # 150 MB


if __name__ == "__main__":
    sfxtest.main()
