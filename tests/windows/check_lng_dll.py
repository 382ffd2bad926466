#!/usr/bin/env python3
"""Checks zel_lng.dll as built: an x86-64 DLL exporting TraduceGlobal at ordinal 1 and
TraduceLocal at ordinal 2 (undecorated names, nothing else), importing only system DLLs
(the C++ runtime is linked in), with its version resource."""
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll"}
EXPORTS = {1: "TraduceGlobal", 2: "TraduceLocal"}
STRINGS = {"FileDescription": "DLL de idiomas", "FileVersion": "1.0.0.1",
           "ProductVersion": "5.0.2.0"}


def main(path):
    pe = pefile.PE(path)
    errors = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]:
        errors.append("not an x86-64 image")
    if not pe.is_dll():
        errors.append("not a DLL")

    exports = {s.ordinal: (s.name or b"").decode() for s in pe.DIRECTORY_ENTRY_EXPORT.symbols}
    if exports != EXPORTS:
        errors.append(f"exports {exports}, expected {EXPORTS}")

    imports = sorted(e.dll.decode() for e in pe.DIRECTORY_ENTRY_IMPORT)
    foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS]
    if foreign:
        errors.append(f"imports from non-system DLLs: {foreign}")

    fixed = pe.VS_FIXEDFILEINFO[0]
    file_version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                    fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    product_version = (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                       fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)
    if file_version != (1, 0, 0, 1) or product_version != (5, 0, 2, 0):
        errors.append(f"fixed versions {file_version} / {product_version}")
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key, value in STRINGS.items():
        if strings.get(key) != value:
            errors.append(f"{key} is {strings.get(key)!r}, expected {value!r}")

    for e in errors:
        print(f"{path}: {e}")
    if not errors:
        print(f"{path}: exports {EXPORTS}, imports {', '.join(imports)}, "
              f"version {strings['FileVersion']}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
