"""Signing after packing, as a publisher does it: an image with its own icon
and version, its PE checksum as osslsigncode computes it, signed with a
certificate made here, verifies and extracts every file under Wine; so does
an image whose checksum and certificate-offset fields, which signing
writes, spell "JAVA" and "PK\\3\\4"."""

import os
import struct
import subprocess
import unittest

import sfxtest
from sfxtest import PACK, ROOT, STUB, run_stub, win_path, work_dir

ICON = os.path.join(ROOT, "demo", "brevant.ico")
FILES = {
    "readme.txt": b"signed and sealed\r\n" * 300,
    "bin/tool.dat": bytes(range(256)) * 40,
    "empty.txt": b"",
}


def header_fields(data):
    """File offsets of the PE checksum and of the certificate table's entry."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    return optional + 64, directories + 4 * 8


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = work_dir("signing")
        cls.source = os.path.join(cls.work, "source")
        sfxtest.write_files(cls.source, FILES)

    def pack(self, name, *options):
        dest = os.path.join(self.work, "out-" + name)
        image = os.path.join(self.work, name + ".exe")
        subprocess.run([PACK, "-q", "-o", image, "--force", "--stub", STUB, "--arch", sfxtest.ARCH, "--flat", "--autostart",
                        "--dest", "fixed:" + win_path(dest)] + list(options) + [self.source], check=True)
        return image, dest

    def assertExtractsEveryFile(self, image, dest):
        result = run_stub(image)
        self.assertEqual((result.errors, result.boxes, result.exit_code), ([], [], 0), result)
        for name, data in FILES.items():
            with open(os.path.join(dest, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def test_an_image_signed_after_packing_verifies_and_extracts(self):
        # Stored entries: a byte more in a file is a byte more in the image,
        # whose length must be even, as osslsigncode drops an odd last byte
        # from its checksum where Windows counts it.
        options = ["--level", "0", "--icon", ICON, "--file-version", "2.1.0.7", "--product", "Signing test"]
        image, dest = self.pack("signed", *options)
        if os.path.getsize(image) % 2:
            FILES["empty.txt"] = b"!"
            with open(os.path.join(self.source, "empty.txt"), "wb") as f:
                f.write(b"!")
            image, dest = self.pack("signed", *options)
        checked = subprocess.run(["osslsigncode", "verify", "-in", image], capture_output=True, text=True)
        self.assertRegex(checked.stdout, r"PE checksum\s*: [0-9A-F]{8}")
        self.assertNotIn("invalid PE checksum", checked.stdout)
        key, cert = os.path.join(self.work, "key.pem"), os.path.join(self.work, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Brevant Test Publisher", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        signed = os.path.join(self.work, "signed-signed.exe")
        if os.path.exists(signed):
            os.remove(signed)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Brevant test",
                        "-in", image, "-out", signed], check=True, capture_output=True)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                                  capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertExtractsEveryFile(signed, dest)

    def test_header_fields_that_spell_both_signatures_are_not_the_archives(self):
        image, dest = self.pack("spelled")
        with open(image, "rb") as f:
            data = bytearray(f.read())
        checksum, certificates = header_fields(data)
        data[checksum:checksum + 4] = b"JAVA"
        data[certificates:certificates + 8] = b"PK\x03\x04" + struct.pack("<I", 1024)
        with open(image, "wb") as f:
            f.write(bytes(data))
        self.assertExtractsEveryFile(image, dest)


if __name__ == "__main__":
    sfxtest.main()
