#!/usr/bin/env python3
"""Checks zelcal.exe: a PE32+ console program for x86-64 that imports only system DLLs."""
import sys

import pefile

SYSTEM_DLLS = {"advapi32.dll", "hid.dll", "kernel32.dll", "msvcrt.dll", "setupapi.dll",
               "cfgmgr32.dll", "user32.dll"}

pe = pefile.PE(sys.argv[1])
problems = []
if pe.FILE_HEADER.Machine != 0x8664 or pe.OPTIONAL_HEADER.Magic != 0x20B:
    problems.append("not a PE32+ image for x86-64")
if pe.OPTIONAL_HEADER.Subsystem != 3:
    problems.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, not console (3)")
imports = {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
for dll in sorted(imports - SYSTEM_DLLS):
    problems.append(f"imports {dll}, which is not a system DLL")
for p in problems:
    print(f"{sys.argv[1]}: {p}")
print(f"{sys.argv[1]}: imports {', '.join(sorted(imports))}")
sys.exit(1 if problems else 0)
