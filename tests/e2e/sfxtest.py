"""Runs Win32 programs under Wine through the driver and collects what they showed.

    from sfxtest import run_stub, STUB
    result = run_stub(STUB, answers=["Yes", "ESC"], lang="ja")
    result.boxes[0].text, result.boxes[0].caption, result.boxes[0].buttons,
    result.boxes[0].icon, result.boxes[0].owner, result.exit_code

The paths come from the environment that CTest gives every tests/e2e/*_test.py
(BREVANT_ROOT, BREVANT_DRIVER, BREVANT_STUB, BREVANT_PACK, BREVANT_WORK); run
by hand, they default to the build tree of `make` for the architecture the
test bed runs (build/win32 with build/bin/brevant-stub.exe for x86,
build/win64 with build/bin/brevant-stub-x64.exe for x64). The test bed must
be running (CTest's fixture does it; by hand: scripts/wine-bed start).
"""

import glob
import json
import os
import shutil
import subprocess
import unittest

ROOT = os.environ.get("BREVANT_ROOT") or os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build")
WINE_BED = os.path.join(ROOT, "scripts", "wine-bed")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def test_arch():
    """The architecture the Win32 programs run on: x86 or x64."""
    arch = os.environ.get("BREVANT_WINE_ARCH")
    if not arch:
        arch = subprocess.run([WINE_BED, "arch"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              check=True, text=True).stdout.strip()
        os.environ["BREVANT_WINE_ARCH"] = arch
    return arch


ARCH = test_arch()
TREE = os.path.join(BUILD, "win32" if ARCH == "x86" else "win64")
DRIVER = os.environ.get("BREVANT_DRIVER") or os.path.join(TREE, "tests", "e2e", "sfx-driver.exe")
BOXES = os.environ.get("BREVANT_BOXES") or os.path.join(TREE, "tests", "e2e", "sfx-boxes.exe")
STUB = os.environ.get("BREVANT_STUB") or os.path.join(
    BUILD, "bin", "brevant-stub.exe" if ARCH == "x86" else "brevant-stub-x64.exe")
PACK = os.environ.get("BREVANT_PACK") or os.path.join(BUILD, "bin", "brevant-pack")
WORK = os.environ.get("BREVANT_WORK") or os.path.join(BUILD, "e2e-work")
# The follow-up program that the tests pack into their archives.
FOLLOW_PROBE = os.environ.get("BREVANT_FOLLOW_PROBE") or os.path.join(
    TREE, "tests", "e2e", "follow-probe.exe")
INSTALL_FAILED = "Install Failed. Bad download?"

LOCALES = {"en": "C.UTF-8", "ja": "ja_JP.UTF-8"}


def read_text(path):
    with open(path) as f:
        return f.read()


def win_path(path):
    """The Windows name of a host path (Wine's drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def work_dir(name):
    """A fresh, empty folder for one test under the work folder."""
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write_files(root, files):
    """Writes {relative name: bytes} below root, making the folders."""
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def prefix():
    """The Wine prefix's folder."""
    return subprocess.run([WINE_BED, "prefix"], stdout=subprocess.PIPE,
                          check=True).stdout.decode().strip()


def display():
    """The test bed's X display (":90" or the like)."""
    status = subprocess.run([WINE_BED, "status"], stdout=subprocess.PIPE).stdout.decode()
    for line in status.splitlines():
        if line.startswith("display:"):
            return line.split()[1]
    raise RuntimeError("the test bed has no display: " + status)


def temp_folders():
    """The Wine prefix's temporary folders (the one GetTempPathA gives is
    among them)."""
    users = os.path.join(prefix(), "drive_c", "users", "*")
    return [p for p in glob.glob(os.path.join(users, "Temp")) +
            glob.glob(os.path.join(users, "AppData", "Local", "Temp")) if os.path.isdir(p)]


class Box:
    """A message box as the driver saw it."""

    def __init__(self, event):
        self.caption = event["caption"]
        self.text = event["text"]
        self.buttons = event["buttons"]        # texts without '&', left to right
        self.button_ids = event["button_ids"]  # IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7
        self.icon = event["icon"]              # an icon is shown
        self.owner = event["owner"]            # None, or the owner's caption
        self.controls = event.get("controls")
        self.owner_controls = event.get("owner_controls")  # the owner's, as the box came
        self.pressed = None                    # what the driver answered

    def __repr__(self):
        return ("Box(caption=%r, text=%r, buttons=%r, icon=%r, owner=%r, pressed=%r)"
                % (self.caption, self.text, self.buttons, self.icon, self.owner,
                   self.pressed))


class Dialog:
    """A dialog that is not a message box (the main dialog)."""

    def __init__(self, event):
        self.title = event["title"]
        self.owner = event["owner"]
        self.style = event["style"]
        self.rect = event["rect"]        # screen pixels: left, top, right, bottom
        self.client = event["client"]    # client area: screen x, y, width, height
        self.controls = event["controls"]  # rect: client pixels

    def control(self, id):
        """The control with this id (the first one, for the labels' -1)."""
        for c in self.controls:
            if c["id"] == id or (id == -1 and c["id"] == 0xFFFF):
                return c
        raise KeyError(id)

    def __repr__(self):
        return "Dialog(title=%r)" % self.title


class Run:
    """Everything one run showed, in order, and how it ended."""

    def __init__(self):
        self.events = []      # every report line, parsed
        self.boxes = []
        self.dialogs = []
        self.exit_code = None  # None when the program did not end by itself
        self.timed_out = False
        self.errors = []
        self.stderr = ""

    def __repr__(self):
        return "Run(boxes=%r, dialogs=%r, exit_code=%r, timed_out=%r, errors=%r)" % (
            self.boxes, self.dialogs, self.exit_code, self.timed_out, self.errors)


def run_program(exe, answers=(), lang="en", args=(), timeout=60, cwd=None, env=None,
                controls=False, dialog=(), desktop=None):
    """Runs exe under the driver; answers are pressed one per box, in order
    ("OK", "Cancel", "Yes", "No", a button's text, "#id", "ESC" or "CLOSE");
    boxes beyond the list get OK. dialog: actions on the main dialog once it
    is seen ("press:ID", "text:ID=TEXT", "check:ID=0|1", "escape", "close"). lang "ja" runs in a
    Japanese locale. desktop "NAME,WxH" runs it in a Wine desktop window,
    which draws window frames (for screenshots)."""
    command = [WINE_RUN] + (["explorer", "/desktop=" + desktop, win_path(DRIVER)]
                            if desktop else [DRIVER]) + ["--timeout", str(timeout)]
    for answer in answers:
        command += ["--press", answer]
    for action in dialog:
        command += ["--dialog", action]
    if controls:
        command.append("--controls")
    command += ["--", win_path(exe)] + [str(a) for a in args]
    environment = dict(os.environ)
    for name in ("LANGUAGE", "LC_MESSAGES", "LC_CTYPE"):
        environment.pop(name, None)
    environment["LANG"] = environment["LC_ALL"] = LOCALES.get(lang, lang)
    if env:
        environment.update(env)
    done = subprocess.run(command, cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout + 60)
    run = Run()
    run.stderr = done.stderr.decode("utf-8", "replace")
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue  # anything Wine itself printed
        try:
            event = json.loads(line)
        except ValueError:
            continue
        run.events.append(event)
        kind = event.get("event")
        if kind == "box":
            run.boxes.append(Box(event))
        elif kind == "press" and run.boxes:
            run.boxes[-1].pressed = event["button"]
        elif kind == "dialog":
            run.dialogs.append(Dialog(event))
        elif kind == "exit":
            run.exit_code = event["code"]
        elif kind == "timeout":
            run.timed_out = True
        elif kind == "error":
            run.errors.append(event["message"])
    if run.exit_code is None and not run.timed_out and not run.errors:
        run.errors.append("driver ended with %d: %s" % (done.returncode, run.stderr.strip()))
    return run


def run_stub(exe, answers=(), lang="en", args=(), timeout=60, cwd=None, env=None,
             controls=False, dialog=(), desktop=None):
    """Runs a stub (or a packed archive) under the driver; see run_program."""
    return run_program(exe, answers=answers, lang=lang, args=args, timeout=timeout,
                       cwd=cwd, env=env, controls=controls, dialog=dialog, desktop=desktop)


class FatalBoxAssertions:
    """For unittest cases: the one fatal box a run must show before exit code 1,
    as a person meets it before any dialog exists."""

    def assertFatalBox(self, run, text):
        self.assertEqual(run.errors, [], run)
        self.assertEqual(len(run.boxes), 1, run)
        box = run.boxes[0]
        self.assertEqual(box.text, text)
        self.assertEqual(box.caption, "")
        self.assertEqual(box.button_ids, [1])  # OK only
        self.assertTrue(box.icon)
        self.assertIsNone(box.owner)
        self.assertEqual(run.dialogs, [])
        self.assertEqual(run.exit_code, 1)


def main():
    """unittest.main() with verbose output, for the *_test.py files."""
    unittest.main(verbosity=2)
