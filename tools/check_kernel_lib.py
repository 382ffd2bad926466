#!/usr/bin/env python3
"""Checks a static library of kernel code built for Windows: every object is
x86-64 COFF, and every symbol the library needs from outside is a kernel import
(__imp_ name) or one of the few compiler helpers a driver links statically."""
import subprocess
import sys

ALLOWED_HELPERS = {"memset", "memcpy", "memmove", "memcmp", "__chkstk", "___chkstk_ms"}


def main(path):
    head = subprocess.run(["x86_64-w64-mingw32-objdump", "-f", path], capture_output=True,
                          text=True, check=True).stdout
    formats = [l for l in head.splitlines() if "file format" in l]
    bad = [l for l in formats if not l.endswith("pe-x86-64")]
    if not formats or bad:
        print(f"{path}: not x86-64 COFF objects: {bad or 'none found'}")
        return 1
    nm = subprocess.run(["x86_64-w64-mingw32-nm", path], capture_output=True, text=True,
                        check=True).stdout
    defined, undefined = set(), set()
    for line in nm.splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[0] == "U":
            undefined.add(parts[1])
        elif len(parts) == 3:
            defined.add(parts[2])
    outside = sorted(s for s in undefined - defined
                     if not s.startswith("__imp_") and s not in ALLOWED_HELPERS)
    if outside:
        print(f"{path}: needs symbols that no kernel provides: {', '.join(outside)}")
        return 1
    imports = sorted(s[len('__imp_'):] for s in undefined if s.startswith("__imp_"))
    print(f"{path}: {len(formats)} objects, kernel imports: {', '.join(imports)}")
    return 0


if __name__ == "__main__":
    sys.exit(max(main(p) for p in sys.argv[1:]))
