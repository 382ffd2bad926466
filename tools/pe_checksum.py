#!/usr/bin/env python3
"""Sets the PE image checksum, which the kernel loader checks for drivers and
the linker leaves at 0."""
import sys

import pefile

for path in sys.argv[1:]:
    pe = pefile.PE(path)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = pe.write()
    pe.close()
    with open(path, "wb") as f:
        f.write(data)
