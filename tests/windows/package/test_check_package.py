#!/usr/bin/env python3
"""tools/check_package.py against broken copies of the real package: each fault must make it
fail with a line that names the file and what is wrong; the intact copy passes.

    ZEL_DIST=build/windows/dist python3 test_check_package.py"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools",
                     "check_package.py")
DIST = os.environ.get("ZEL_DIST", "")
SERVICE = os.path.isfile(os.path.join(DIST, "zel_svc.exe"))


def edit_text(name, old, new):
    """Replaces every `old` in the file (language files are single-byte text)."""
    def apply(folder):
        path = os.path.join(folder, name)
        with open(path, encoding="latin-1", newline="") as f:
            text = f.read()
        assert old in text, f"{old!r} not in {name}"
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text.replace(old, new))
    return apply


def remove(name):
    return lambda folder: os.remove(os.path.join(folder, name))


def add(name):
    def apply(folder):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"MZ")
    return apply


def edit_pe(name, change):
    def apply(folder):
        path = os.path.join(folder, name)
        pe = pefile.PE(path)
        change(pe)
        data = pe.write()
        pe.close()
        with open(path, "wb") as f:
            f.write(data)
    return apply


def set_subsystem(value):
    def change(pe):
        pe.OPTIONAL_HEADER.Subsystem = value
    return change


def set_file_version_ls(value):
    def change(pe):
        pe.VS_FIXEDFILEINFO[0].FileVersionLS = value
    return change


# (case, fault, the file a problem line must name, what it must say)
CASES = [
    ("missing language file", remove("zel_german.h"), "zel_german.h", "missing"),
    ("missing INF", remove("zel_vmd.inf"), "zel_vmd.inf", "missing"),
    ("missing installer", remove("zelinst.exe"), "zelinst.exe", "missing"),
    ("stray file", add("zel_old.dll"), "zel_old.dll", "not part of the package"),
    ("INF names a wrong file", edit_text("zel_hidg.inf", "[Files]\nzel_hidg.sys",
                                         "[Files]\nzel_hid.sys"),
     "zel_hidg.inf", "names zel_hid.sys, which is not in the package"),
    ("INF version not the driver's", edit_text("zel_hidg.inf", ",2.1.1.0", ",2.1.0.9"),
     "zel_hidg.inf", "DriverVer version 2.1.0.9 is not zel_hidg.sys's file version 2.1.1.0"),
    ("INF without its hardware id", edit_text("zel_hidg.inf", "PID_3635\n", "PID_3636\n"),
     "zel_hidg.inf", r"no model line matches the hardware id GamePort\VID_06A3&PID_3635"),
    ("INF without x64 models", edit_text("zel_vmd.inf", "=Models,NTamd64", "=Models"),
     "zel_vmd.inf", "no x64 models section"),
    ("INF of another class", edit_text("zel_vmd.inf", "Class=HIDClass", "Class=System"),
     "zel_vmd.inf", "the class is not HIDClass"),
    ("hardware id not documented", edit_text("INSTALL.md", r"root\zel_vmd", "root device"),
     "zel_vmd.inf", r"INSTALL.md does not document the hardware id root\zel_vmd"),
    ("driver with a console subsystem", edit_pe("zel_vmd.sys", set_subsystem(3)),
     "zel_vmd.sys", "subsystem 3, not native (1)"),
    ("library with another file version", edit_pe("zel_lng.dll", set_file_version_ls(2)),
     "zel_lng.dll", "file version 1.0.0.2, not 1.0.0.1"),
    ("installer as a GUI program", edit_pe("zelinst.exe", set_subsystem(2)),
     "zelinst.exe", "subsystem 2, not console (3)"),
    ("language file without message 14",
     edit_text("zel_french.h", "\n#14=", "\n#15="), "zel_french.h", "no message 14"),
]


def run_check(folder):
    command = [sys.executable, CHECK, folder] + (["--service"] if SERVICE else [])
    result = subprocess.run(command, capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


@unittest.skipUnless(os.path.isdir(DIST), "ZEL_DIST names no package folder")
class CheckPackage(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.copy = os.path.join(self.scratch, "dist")
        shutil.copytree(DIST, self.copy)

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def test_intact_copy_passes(self):
        code, output = run_check(self.copy)
        self.assertEqual(code, 0, output)
        self.assertIn("every check passed", output)

    def test_each_fault_is_named(self):
        # One broken copy per case, checked side by side.
        copies = []
        for i, (case, fault, name, what) in enumerate(CASES):
            folder = os.path.join(self.scratch, f"case{i}")
            shutil.copytree(DIST, folder)
            fault(folder)
            copies.append(folder)
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = list(pool.map(run_check, copies))
        for (case, fault, name, what), folder, (code, output) in zip(CASES, copies, results):
            with self.subTest(case):
                self.assertEqual(code, 1, output)
                line = re.compile(re.escape(os.path.join(folder, name)) + ": .*" + re.escape(what))
                self.assertRegex(output, line)


if __name__ == "__main__":
    unittest.main()
