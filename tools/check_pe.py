#!/usr/bin/env python3
"""Checks a kernel driver image (.sys) as the loader, memory integrity and signing tools
see it: PE32+ for x86-64, native subsystem, an entry point inside executable code (and,
with --entry, at that routine of the link map, in the section --entry-section names),
imports only from the allowed modules, the required sections present, no section both
writable and executable, 4 KB section alignment and a valid checksum. A native image must
also be no DLL, export nothing, carry no symbol table, have its INIT section discardable,
its constant data sections read-only, and unwind data (.pdata/.xdata) that covers the
entry point and every routine the checks name. --routines-in places routines by the link
map (--map, by default the image's path with ".map" added). With --file-version,
--product-version and --version-strings the version resource must carry those versions and
string values, and with --version-language in that language. --subsystem
names another subsystem for user-mode programs and DLLs."""
import argparse
import os
import re
import struct
import sys

import pefile

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_SUBSYSTEM_NATIVE = 1
SUBSYSTEMS = {"native": IMAGE_SUBSYSTEM_NATIVE, "windows": 2, "console": 3}
SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000
SCN_CODE = 0x00000020
SCN_DISCARDABLE = 0x02000000
IMAGE_FILE_DLL = 0x2000
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
# Sections that hold only constants once the image is loaded.
CONSTANT_SECTIONS = {".rdata", ".pdata", ".xdata", ".rsrc", ".reloc", ".edata"}
MAP_SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+([^\s.=][^=]*?)\s*$")


def section_name(section):
    return section.Name.rstrip(b"\0").decode("ascii", "replace")


def section_at(pe, rva):
    for s in pe.sections:
        if s.VirtualAddress <= rva < s.VirtualAddress + max(s.Misc_VirtualSize, s.SizeOfRawData):
            return s
    return None


def map_routines(path):
    """Routine name (demangled, without its parameters) -> address, from a GNU ld map."""
    routines = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = MAP_SYMBOL.match(line)
            if m:
                routines.setdefault(m.group(2).split("(")[0], int(m.group(1), 16))
    return routines


def unwind_ranges(pe):
    """The [begin, end) RVAs of every function the exception directory describes."""
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[3]
    if not directory.Size:
        return []
    data = pe.get_data(directory.VirtualAddress, directory.Size)
    return [(b, e) for b, e, _ in struct.iter_unpack("<III", data[:len(data) // 12 * 12])]


def version_strings(pe):
    found = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    found[key.decode("utf-8", "replace")] = value.decode("utf-8", "replace")
    return found


def check(path, args):
    problems = []
    pe = pefile.PE(path)
    oh = pe.OPTIONAL_HEADER
    if oh.Magic != 0x20B or pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_AMD64:
        problems.append("not a PE32+ image for x86-64")
    if oh.Subsystem != SUBSYSTEMS[args.subsystem]:
        problems.append(f"subsystem {oh.Subsystem}, not {args.subsystem} "
                        f"({SUBSYSTEMS[args.subsystem]})")
    if oh.SectionAlignment != 0x1000:
        problems.append(f"section alignment {oh.SectionAlignment:#x}, not 0x1000")
    if oh.CheckSum == 0 or not pe.verify_checksum():
        problems.append(f"checksum {oh.CheckSum:#x} is not the image's ({pe.generate_checksum():#x})")

    entry = oh.AddressOfEntryPoint
    entry_section = section_at(pe, entry) if entry else None
    if entry_section is None:
        problems.append(f"entry point {entry:#x} lies in no section")
    elif not entry_section.Characteristics & SCN_EXECUTE:
        problems.append(f"entry point lies in non-executable section {section_name(entry_section)}")
    routines = {}
    map_path = args.map or path + ".map"
    if args.entry or args.routines_in:
        if os.path.exists(map_path):
            routines = {name: address - oh.ImageBase
                        for name, address in map_routines(map_path).items()}
        else:
            problems.append(f"no link map {map_path} to find routines in")
    if args.entry and routines:
        if args.entry not in routines:
            problems.append(f"{args.entry} is not in the link map")
        elif routines[args.entry] != entry:
            problems.append(f"entry point {entry:#x} is not {args.entry} ({routines[args.entry]:#x})")
    if args.entry_section and entry_section is not None and \
            section_name(entry_section) != args.entry_section:
        problems.append(f"entry point in {section_name(entry_section)}, not {args.entry_section}")

    checked = {"entry point": entry}
    for placement in args.routines_in or []:
        wanted, _, listed = placement.partition("=")
        for routine in (r for r in listed.split(",") if r):
            if not routines:
                break
            if routine not in routines:
                problems.append(f"{routine} is not in the link map, so its section cannot be checked")
                continue
            checked[routine] = routines[routine]
            where = section_at(pe, routines[routine])
            if where is None or section_name(where) != wanted:
                problems.append(f"{routine} lies in {section_name(where) if where else 'no section'}, "
                                f"not {wanted}")

    allowed = {m.lower() for m in args.allow_imports.split(",") if m}
    imported = [e.dll.decode() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    for dll in imported:
        if dll.lower() not in allowed:
            problems.append(f"imports from {dll}, which is not allowed")

    names = {section_name(s) for s in pe.sections}
    for required in (r for r in args.require_sections.split(",") if r):
        if required not in names:
            problems.append(f"no {required} section")
    for s in pe.sections:
        if s.Characteristics & SCN_WRITE and s.Characteristics & (SCN_EXECUTE | SCN_CODE):
            problems.append(f"section {section_name(s)} is both writable and executable")

    if oh.Subsystem == IMAGE_SUBSYSTEM_NATIVE:
        if pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL:
            problems.append("the DLL flag is set on a driver image")
        if pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED:
            problems.append("relocations stripped: the kernel cannot load it at another address")
        exported = [(e.name or b"#%d" % e.ordinal).decode()
                    for e in getattr(getattr(pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", [])]
        if exported or oh.DATA_DIRECTORY[0].Size:
            problems.append(f"exports {len(exported)} symbols ({', '.join(exported[:5])}...)")
        if pe.FILE_HEADER.PointerToSymbolTable or pe.FILE_HEADER.NumberOfSymbols:
            problems.append(f"a symbol table of {pe.FILE_HEADER.NumberOfSymbols} entries is left in")
        for s in pe.sections:
            name = section_name(s)
            if name == "INIT" and not s.Characteristics & SCN_DISCARDABLE:
                problems.append("INIT is not discardable")
            if name in CONSTANT_SECTIONS and s.Characteristics & SCN_WRITE:
                problems.append(f"section {name} holds constants but is writable")
        if not {".pdata", ".xdata"} <= names:
            problems.append("no unwind data (.pdata and .xdata)")
        ranges = unwind_ranges(pe)
        for routine, rva in checked.items():
            if not any(begin <= rva < end for begin, end in ranges):
                problems.append(f"no unwind data covers {routine} ({rva:#x})")

    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    for label, wanted, ms, ls in (("file", args.file_version, "FileVersionMS", "FileVersionLS"),
                                  ("product", args.product_version, "ProductVersionMS",
                                   "ProductVersionLS")):
        if not wanted:
            continue
        if fixed is None:
            problems.append("no version resource")
            continue
        hi, lo = getattr(fixed, ms), getattr(fixed, ls)
        have = f"{hi >> 16}.{hi & 0xFFFF}.{lo >> 16}.{lo & 0xFFFF}"
        if have != wanted:
            problems.append(f"{label} version {have}, not {wanted}")
    if args.version_strings:
        have = version_strings(pe)
        for pair in args.version_strings:
            key, _, value = pair.partition("=")
            if have.get(key) != value:
                problems.append(f"version resource {key} is {have.get(key)!r}, not {value!r}")

    if args.version_language:
        wanted = int(args.version_language, 16)
        infos = [entry for info in getattr(pe, "FileInfo", None) or [] for entry in info]
        tables = [table.LangID.decode() for entry in infos
                  for table in getattr(entry, "StringTable", [])]
        translations = [str(var.entry.get(b"Translation", "")) for entry in infos
                        for var in getattr(entry, "Var", [])]
        if not tables or any(int(t[:4], 16) != wanted for t in tables):
            problems.append(f"version strings in languages {tables}, not {wanted:#06x}")
        if not translations or any(not t.startswith(f"{wanted:#06x}") for t in translations):
            problems.append(f"version translation {translations}, not {wanted:#06x}")

    for p in problems:
        print(f"{path}: {p}")
    if not problems:
        print(f"{path}: ok (imports: {', '.join(imported)}; sections: {', '.join(sorted(names))})")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("images", nargs="+")
    parser.add_argument("--allow-imports", default="ntoskrnl.exe",
                        help="comma-separated module names the image may import from")
    parser.add_argument("--subsystem", choices=sorted(SUBSYSTEMS), default="native",
                        help="subsystem the image must have (user-mode programs and DLLs: "
                             "console or windows)")
    parser.add_argument("--require-sections", default="",
                        help="comma-separated section names that must exist (e.g. PAGE,INIT)")
    parser.add_argument("--entry", help="routine of the link map the entry point must be")
    parser.add_argument("--map", help="the image's link map (default: IMAGE.map)")
    parser.add_argument("--entry-section", help="section the entry point must lie in")
    parser.add_argument("--file-version", help="fixed file version, e.g. 1.0.1.0")
    parser.add_argument("--product-version", help="fixed product version")
    parser.add_argument("--routines-in", action="append", metavar="SECTION=NAME,...",
                        help="routines (as the link map names them) that must lie in the "
                             "section (repeatable)")
    parser.add_argument("--version-language", metavar="HEX",
                        help="language id of the version strings and translation, e.g. 0x0C0A")
    parser.add_argument("--version-strings", nargs="*", metavar="KEY=VALUE",
                        help="string values the version resource must carry")
    args = parser.parse_args()
    return max(check(path, args) for path in args.images)


if __name__ == "__main__":
    sys.exit(main())
