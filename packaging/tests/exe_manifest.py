#!/usr/bin/env python3
"""exe_manifest.py RES_FILE: checks the application manifest among an exe's resources
(as `windres -J coff -i EXE -O res` writes them): resource 1 of type RT_MANIFEST,
well-formed XML, asInvoker, Windows 7 to 11 supported, common controls version 6,
gdiScaling on and no DPI awareness. Prints each fault and exits 1 when there is one."""
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                   "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}


def identifier(data, pos):
    """A resource type or name at pos, a number or a string; and where the next one starts."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0]:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def resources(data):
    """(type, name, bytes) of every entry of a .res file."""
    pos = 0
    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        kind, name_at = identifier(data, pos + 8)
        name, _ = identifier(data, name_at)
        yield kind, name, data[pos + header:pos + header + size]
        pos = (pos + header + size + 3) & ~3


def faults_of(manifest):
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as error:
        return [f"not well-formed XML: {error}"]
    elements = {}
    for element in root.iter():
        elements.setdefault(element.tag.rsplit("}", 1)[-1], []).append(element)
    levels = [e.get("level") for e in elements.get("requestedExecutionLevel", [])]
    identities = [e.attrib for e in elements.get("assemblyIdentity", [])]
    checks = [
        (levels == ["asInvoker"], f"execution level {levels}, not asInvoker"),
        ({e.get("Id") for e in elements.get("supportedOS", [])} == SUPPORTED_OS, "not Windows 7 to 11 exactly"),
        (COMMON_CONTROLS in identities, "no dependency on common controls 6"),
        ([e.text for e in elements.get("gdiScaling", [])] == ["true"], "gdiScaling not on"),
        (not elements.keys() & {"dpiAware", "dpiAwareness"}, "declares DPI awareness"),
    ]
    return [fault for ok, fault in checks if not ok]


def main(path):
    with open(path, "rb") as res:
        data = res.read()
    manifests = [(name, body) for kind, name, body in resources(data) if kind == RT_MANIFEST]
    names = [name for name, _ in manifests]
    if names == [CREATEPROCESS_MANIFEST_RESOURCE_ID]:
        faults = faults_of(manifests[0][1])
    else:
        faults = [f"manifest resources {names}, want exactly one, resource 1"]
    for fault in faults:
        print(f"manifest: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
