#!/usr/bin/env python3
"""make install, make uninstall and the manual page.

    install_test.py tree SOURCE-DIR BIN-DIR
    install_test.py manpage SOURCE-DIR BIN-DIR

tree: make install (its programs taken as built in BIN-DIR) into a DESTDIR
under a PREFIX of its own puts exactly the packer, both stubs and the manual
page there; the installed packer, started from another current folder that
holds a brevant-stub.exe of anyone's, and through a link in a folder with
nothing beside it, finds its own stubs under PREFIX/share/brevant/, and
--describe checks every entry of what it packed; make uninstall then removes
exactly what was installed and leaves the rest of the prefix alone.

manpage: mandoc's lint has nothing to say about the manual page, and the
page has an item for every long option that --help lists.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

PREFIX = "/opt/brevant"
INSTALLED = {
    "bin/brevant-pack": 0o755,
    "share/brevant/brevant-stub.exe": 0o644,
    "share/brevant/brevant-stub-x64.exe": 0o644,
    "share/man/man1/brevant-pack.1": 0o644,
}


def fail(message):
    sys.exit("FAIL: " + message)


def make(source, bin_dir, stage, target):
    # -o programs: install what BIN-DIR holds; building is not this test's.
    subprocess.run(["make", "-C", source, "--no-print-directory", "-s", "-o", "programs", target,
                    "BUILD=" + os.path.dirname(os.path.abspath(bin_dir)), "DESTDIR=" + stage,
                    "PREFIX=" + PREFIX], check=True, stdout=subprocess.DEVNULL)


def files_under(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = os.stat(path).st_mode & 0o777
    return found


def pack(packer, cwd, *args):
    run = subprocess.run([packer, "-q", "--mtime", "2024-01-01", *args], cwd=cwd, capture_output=True, text=True)
    if run.returncode != 0:
        fail(f"{packer} {' '.join(args)} in {cwd}: exit code {run.returncode}: {run.stderr.strip()}")


def describe(packer, image, machine):
    run = subprocess.run([packer, "--describe", image, "--json"], capture_output=True, text=True)
    if run.returncode != 0:
        fail(f"--describe {image}: exit code {run.returncode}: {run.stdout}{run.stderr}")
    report = json.loads(run.stdout)
    names = sorted(e["name"] for e in report["entries"] if e["ok"])
    want = ["app/", "app/readme.txt", "app/sub/", "app/sub/data.bin"]
    if names != want:
        fail(f"{image} holds {names}, not {want}")
    if report["stub"]["machine"] != machine:
        fail(f"{image} has a stub for {report['stub']['machine']}, not for {machine}")


def tree(source, bin_dir):
    scratch = tempfile.mkdtemp(prefix="brevant-install-")
    try:
        stage = os.path.join(scratch, "stage")
        root = stage + PREFIX
        make(source, bin_dir, stage, "install")
        got = files_under(stage)
        if got != {PREFIX[1:] + "/" + path: mode for path, mode in INSTALLED.items()}:
            fail(f"make install wrote {sorted(got.items())}")
        packer = os.path.join(root, "bin", "brevant-pack")

        # A downloads folder: the inputs, and a stub that is not the packer's.
        work = os.path.join(scratch, "work")
        os.makedirs(os.path.join(work, "app", "sub"))
        with open(os.path.join(work, "app", "readme.txt"), "w") as f:
            f.write("read me\n")
        with open(os.path.join(work, "app", "sub", "data.bin"), "wb") as f:
            f.write(bytes(range(256)) * 64)
        with open(os.path.join(work, "brevant-stub.exe"), "wb") as f:
            f.write(b"MZ planted")
        pack(packer, work, "-o", "setup.exe", "app")
        describe(packer, os.path.join(work, "setup.exe"), "x86")

        # Reached through a link in a folder whose parent holds no share/.
        links = os.path.join(scratch, "links")
        os.mkdir(links)
        os.symlink(packer, os.path.join(links, "brevant-pack"))
        pack(os.path.join(links, "brevant-pack"), work, "--arch", "x64", "-o", "setup64.exe", "app")
        describe(packer, os.path.join(work, "setup64.exe"), "x64")

        # Someone else's files in the same prefix stay.
        others = {"bin/other": 0o755, "share/man/man1/other.1": 0o644}
        for path, mode in others.items():
            with open(os.path.join(root, path), "w") as f:
                f.write("not ours\n")
            os.chmod(os.path.join(root, path), mode)
        make(source, bin_dir, stage, "uninstall")
        got = files_under(root)
        if got != others:
            fail(f"after make uninstall the prefix holds {sorted(got.items())}, not {sorted(others.items())}")
        if os.path.exists(os.path.join(root, "share", "brevant")):
            fail("make uninstall left share/brevant/")
    finally:
        shutil.rmtree(scratch)


def manpage(source, bin_dir):
    page = os.path.join(source, "docs", "brevant-pack.1")
    lint = subprocess.run(["mandoc", "-T", "lint", page], capture_output=True, text=True)
    if lint.returncode != 0 or lint.stdout or lint.stderr:
        fail("mandoc -T lint:\n" + lint.stdout + lint.stderr)
    usage = subprocess.run([os.path.join(bin_dir, "brevant-pack"), "--help"], capture_output=True, text=True,
                           check=True).stdout
    # The options the page describes: those in the tag of an item.
    with open(page) as f:
        lines = f.read().replace("\\-", "-").splitlines()
    tags = " ".join(line for before, line in zip(lines, lines[1:]) if before in (".TP", ".TQ"))
    option = r"(?<![\w-])--[a-z][a-z0-9-]*(?![\w-])"
    missing = sorted(set(re.findall(option, usage)) - set(re.findall(option, tags)))
    if missing:
        fail("the manual page does not describe " + ", ".join(missing))


def main():
    tests = {"tree": tree, "manpage": manpage}
    if len(sys.argv) != 4 or sys.argv[1] not in tests:
        sys.exit(__doc__)
    tests[sys.argv[1]](sys.argv[2], sys.argv[3])
    print("ok")


if __name__ == "__main__":
    main()
