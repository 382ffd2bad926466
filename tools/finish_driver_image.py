#!/usr/bin/env python3
"""Finishes a kernel driver image after linking, where the GNU linker leaves it short of
what the Windows loader and signing tools expect: the INIT section (code that runs only
while the driver loads) discardable, the resource section read-only, and the image
checksum, which the kernel loader checks for drivers, set."""
import sys

import pefile

SCN_MEM_DISCARDABLE = 0x02000000
SCN_MEM_WRITE = 0x80000000

for path in sys.argv[1:]:
    pe = pefile.PE(path)
    for section in pe.sections:
        name = section.Name.rstrip(b"\0")
        if name == b"INIT":
            section.Characteristics |= SCN_MEM_DISCARDABLE
        elif name == b".rsrc":
            section.Characteristics &= ~SCN_MEM_WRITE
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = pe.write()
    pe.close()
    with open(path, "wb") as f:
        f.write(data)
