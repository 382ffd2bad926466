#!/usr/bin/env python3
"""Checks the package folder as a user receives it (dist/): every file present and nothing
else; tools/check_pe.py's image checks on every binary, with the versions and descriptions its
version resource must carry; each INF parses, matches its documented hardware id with an x64
model, names only files of the package and carries the version of its driver; each language
file holds the messages the service asks for. Every problem is printed as "FILE: what is
wrong"; the exit code is 1 when there is one.

    check_package.py DIST [--service]

--service: the package carries the start-up service (zel_svc.exe and its check library)."""
import argparse
import os
import re
import subprocess
import sys

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK_PE = os.path.join(HERE, "check_pe.py")
HID_CLASS_GUID = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"
LANGUAGES = ["english", "german", "spanish", "french", "italian"]
SYSTEM_DLLS = "kernel32.dll,msvcrt.dll,user32.dll,advapi32.dll,setupapi.dll,newdev.dll,version.dll,hid.dll"

# Each binary: (file, check_pe.py arguments). The versions are those of the version resources.
DRIVERS = {
    "zel_hidg": {"hardware_id": r"GamePort\VID_06A3&PID_3635", "version": "2.1.1.0",
                 "description": "Hid minidriver",
                 "imports": "ntoskrnl.exe,HAL.dll,HIDCLASS.SYS"},
    "zel_vmd": {"hardware_id": r"root\zel_vmd", "version": "1.0.1.0",
                "description": "Hid Minidriver virtual", "imports": "ntoskrnl.exe,HIDCLASS.SYS"},
}
USER_BINARIES = {
    "zel_lng.dll": ("1.0.0.1", "DLL de idiomas"),
    "zelinst.exe": ("1.0.0.0", "zel package installer"),
    "zelcal.exe": ("1.0.0.0", "zel joystick calibration"),
}
SERVICE_BINARIES = {
    "zel_svc.exe": ("4.0.1.0", "Servicio de iniciaci\u00f3n"),
}
SERVICE_FILES = ["zel_svc.exe", "zel_svc.dll"]
PRODUCT_VERSION = "5.0.2.0"
# Messages that the start-up service shows from the language files.
SERVICE_MESSAGES = [13, 14]


def expected_files(service):
    files = ["INSTALL.md", "zelinst.exe", "zelcal.exe", "zel_lng.dll"]
    files += [f"zel_{language}.h" for language in LANGUAGES]
    for driver in DRIVERS:
        files += [f"{driver}.sys", f"{driver}.inf"]
    if service:
        files += SERVICE_FILES
    return files


def parse_inf(text):
    """Sections (names lower-cased) -> list of (key or None, [values]) with %strings% put in."""
    sections, current = {}, None
    for raw in text.splitlines():
        line = re.sub(r';(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
        if not line:
            continue
        header = re.fullmatch(r"\[([^\]]+)\]", line)
        if header:
            current = sections.setdefault(header.group(1).strip().lower(), [])
            continue
        if current is None:
            raise ValueError(f"line outside a section: {raw.strip()}")
        key, sep, rest = line.partition("=")
        values = [v.strip().strip('"') for v in (rest if sep else key).split(",")]
        current.append((key.strip() if sep else None, values))
    strings = {k.lower(): v[0] for k, v in sections.get("strings", []) if k}

    def substitute(value):
        return re.sub(r"%([^%]+)%", lambda m: strings.get(m.group(1).lower(), m.group(0)), value)

    return {name: [(k, [substitute(v) for v in vs]) for k, vs in lines]
            for name, lines in sections.items()}


def first(section, key):
    for k, values in section:
        if k is not None and k.lower() == key.lower():
            return values
    return None


def file_version(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return None
    ms, ls = fixed[0].FileVersionMS, fixed[0].FileVersionLS
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def check_inf(dist, driver, spec, documentation, problems):
    name = f"{driver}.inf"
    path = os.path.join(dist, name)

    def problem(text):
        problems.append(f"{name}: {text}")

    try:
        with open(path, encoding="utf-8") as f:
            inf = parse_inf(f.read())
    except (OSError, UnicodeDecodeError, ValueError) as e:
        problem(f"does not parse: {e}")
        return
    version = inf.get("version", [])
    if (first(version, "Signature") or [""])[0].lower() != "$windows nt$":
        problem('the [Version] Signature is not "$WINDOWS NT$"')
    if (first(version, "Class") or [""])[0].lower() != "hidclass":
        problem("the class is not HIDClass")
    if (first(version, "ClassGuid") or [""])[0].lower() != HID_CLASS_GUID:
        problem(f"the class GUID is not HIDClass's {HID_CLASS_GUID}")
    driver_ver = first(version, "DriverVer")
    if not driver_ver or len(driver_ver) != 2 or \
            not re.fullmatch(r"(0[1-9]|1[0-2])/(0[1-9]|[12]\d|3[01])/\d{4}", driver_ver[0]):
        problem("no DriverVer with a date mm/dd/yyyy and a version")
        driver_ver = None

    # Models: an NTamd64 decoration, and the documented hardware id on a line of it.
    models = None
    for key, values in inf.get("manufacturer", []):
        if key is not None and len(values) > 1 and any(v.lower() == "ntamd64" for v in values[1:]):
            models = f"{values[0]}.ntamd64".lower()
    if models is None or models not in inf:
        problem("no x64 models section (a [Manufacturer] entry decorated NTamd64)")
        return
    install = None
    for key, values in inf[models]:
        if len(values) > 1 and any(v.lower() == spec["hardware_id"].lower() for v in values[1:]):
            install = values[0].lower()
    if install is None:
        problem(f"no model line matches the hardware id {spec['hardware_id']}")
        return
    if spec["hardware_id"] not in documentation:
        problem(f"INSTALL.md does not document the hardware id {spec['hardware_id']}")
    install_section = inf.get(install + ".nt", inf.get(install))
    if install_section is None:
        problem(f"no install section [{install}.NT]")
        return

    # Every file it names must be in the package.
    named = [k for k, _ in inf.get("sourcedisksfiles", []) if k]
    for copy in first(install_section, "CopyFiles") or []:
        for key, values in inf.get(copy.lower(), []):
            named.append(values[0] if key is None else key)
    services = [v for k, v in inf.get(install + ".nt.services", inf.get(install + ".services", []))
                if k and k.lower() == "addservice"]
    if not services:
        problem(f"no AddService in [{install}.NT.Services]")
    binary = None
    for values in services:
        section = inf.get(values[2].lower(), []) if len(values) > 2 else []
        service_binary = (first(section, "ServiceBinary") or [""])[0]
        if (first(section, "ServiceType") or [""])[0] != "1":
            problem(f"the service {values[0]} is not a kernel driver (ServiceType=1)")
        binary = service_binary.replace("\\", "/").split("/")[-1]
        named.append(binary)
    for file in sorted(set(named)):
        if not os.path.isfile(os.path.join(dist, file)):
            problem(f"names {file}, which is not in the package")
    if driver_ver and binary and os.path.isfile(os.path.join(dist, binary)):
        have = file_version(os.path.join(dist, binary))
        if driver_ver[1] != have:
            problem(f"DriverVer version {driver_ver[1]} is not {binary}'s file version {have}")
    if driver_ver and driver_ver[1] != spec["version"]:
        problem(f"DriverVer version {driver_ver[1]}, not {spec['version']}")


def check_images(dist, service, problems):
    runs = []
    for driver, spec in DRIVERS.items():
        runs.append((f"{driver}.sys", spec["version"], spec["description"],
                     ["--allow-imports", spec["imports"], "--require-sections", "PAGE,INIT"]))
    binaries = dict(USER_BINARIES, **(SERVICE_BINARIES if service else {}))
    for name, (version, description) in binaries.items():
        runs.append((name, version, description, ["--subsystem", "console",
                                                  "--allow-imports", SYSTEM_DLLS]))
    if service:
        runs.append(("zel_svc.dll", None, None, ["--subsystem", "console",
                                                  "--allow-imports", SYSTEM_DLLS]))
    started = []  # the checks run side by side: a large image takes seconds
    for name, version, description, options in runs:
        path = os.path.join(dist, name)
        if not os.path.isfile(path):
            continue  # reported as missing
        if version:
            options += ["--file-version", version, "--product-version", PRODUCT_VERSION,
                        "--version-strings", f"FileDescription={description}",
                        f"FileVersion={version}", f"ProductVersion={PRODUCT_VERSION}"]
        started.append((name, path, subprocess.Popen(
            [sys.executable, CHECK_PE, path] + options, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True)))
    for name, path, process in started:
        output, _ = process.communicate()
        if process.returncode != 0:
            for line in output.splitlines():
                problems.append(f"{name}: {line.split(': ', 1)[-1]}" if line.startswith(path)
                                else f"{name}: {line}")


def check_languages(dist, problems):
    for language in LANGUAGES:
        name = f"zel_{language}.h"
        path = os.path.join(dist, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            numbers = {int(m.group(1)) for m in re.finditer(rb"^#(\d+)=.", f.read(), re.M)}
        for number in SERVICE_MESSAGES:
            if number not in numbers:
                problems.append(f"{name}: no message {number}")


def check(dist, service):
    problems = []
    wanted = expected_files(service)
    present = sorted(os.listdir(dist)) if os.path.isdir(dist) else []
    for name in wanted:
        if name not in present:
            problems.append(f"{name}: missing")
    for name in present:
        if name not in wanted:
            problems.append(f"{name}: not part of the package")
    documentation = ""
    if "INSTALL.md" in present:
        with open(os.path.join(dist, "INSTALL.md"), encoding="utf-8") as f:
            documentation = f.read()
    check_images(dist, service, problems)
    for driver, spec in DRIVERS.items():
        if f"{driver}.inf" in present:
            check_inf(dist, driver, spec, documentation, problems)
    check_languages(dist, problems)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dist", help="the package folder")
    parser.add_argument("--service", action="store_true",
                        help="the package carries the start-up service")
    args = parser.parse_args()
    if not os.path.isdir(args.dist):
        print(f"{args.dist}: no such folder")
        return 1
    problems = check(args.dist, args.service)
    for p in problems:
        print(f"{os.path.join(args.dist, '')}{p}")
    if not problems:
        print(f"{args.dist}: {len(expected_files(args.service))} files, every check passed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
