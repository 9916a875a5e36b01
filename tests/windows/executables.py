#!/usr/bin/env python3
"""What Explorer and the loader read from the shipped programs, read back
from the files themselves (the PE headers and the resource tree):
  executables.py DEMO.EXE DEMOTOOL.EXE
demo.exe is a windowed program, demotool.exe a console one; both carry the
manifest that makes them DPI aware, an icon and version information with the
product's name, neither carries symbols or debug sections, and both are
large-address-aware (which a 32-bit program must ask for at link time). The
same for the 32-bit and the 64-bit programs. One line per fault; exit status
1 when there is one."""
import re
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
GUI, CONSOLE = 2, 3
LARGE_ADDRESS_AWARE = 0x0020
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(size, raw_size), raw))

    def at(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address 0x%x is in no section" % rva)

    def resources(self):
        """{(type, id): bytes} of the first language of each resource."""
        found = {}
        if not self.resource_rva:
            return found
        base = self.at(self.resource_rva)

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                yield key, target

        for kind, names in entries(0):
            for ident, languages in entries(names & 0x7FFFFFFF):
                _, leaf = next(entries(languages & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                found[(kind, ident)] = self.data[self.at(rva):self.at(rva) + size]
        return found


def version_string(block, key):
    """A StringFileInfo value of a VS_VERSIONINFO block: UTF-16 key, its end,
    padding to four bytes, the value."""
    text = block.decode("utf-16-le", errors="replace")
    found = re.search(re.escape(key) + "\0+([^\0]*)\0", text)
    return found.group(1) if found else None


def check(path, subsystem):
    faults = []
    image = Image(open(path, "rb").read())
    if image.subsystem != subsystem:
        faults.append("subsystem %d, expected %d" % (image.subsystem, subsystem))
    if image.machine not in MACHINES:
        faults.append("machine 0x%x, expected one of %s" % (image.machine, sorted(MACHINES.values())))
    if not image.characteristics & LARGE_ADDRESS_AWARE:
        faults.append("not large-address-aware (characteristics 0x%x)" % image.characteristics)
    if image.symbol_table or image.symbols:
        faults.append("a symbol table of %d symbols" % image.symbols)
    # Long section names ("/4") point into the symbol table's strings: the
    # debug sections have them.
    extra = [name for name, *_ in image.sections if name.startswith((".debug", "/"))]
    if extra:
        faults.append("sections %s" % " ".join(extra))
    resources = image.resources()

    manifest = resources.get((RT_MANIFEST, 1))
    if manifest is None:
        faults.append("no manifest (RT_MANIFEST 1)")
    else:
        root = ET.fromstring(manifest)
        aware = [e.text for e in root.iter(WINDOWS_SETTINGS_2005 + "dpiAware")]
        awareness = [e.text for e in root.iter(WINDOWS_SETTINGS_2016 + "dpiAwareness")]
        systems = {e.get("Id") for e in root.iter(COMPATIBILITY + "supportedOS")}
        if aware != ["true/pm"]:
            faults.append("manifest: dpiAware is %s, expected true/pm" % aware)
        if awareness != ["PerMonitorV2, PerMonitor"]:
            faults.append("manifest: dpiAwareness is %s, expected PerMonitorV2, PerMonitor" % awareness)
        if systems != SUPPORTED_OS:
            faults.append("manifest: supported systems %s" % sorted(systems ^ SUPPORTED_OS))

    kinds = {kind for kind, _ in resources}
    if not {RT_GROUP_ICON, RT_ICON} <= kinds:
        faults.append("no icon")

    version = resources.get((RT_VERSION, 1), b"")
    if version_string(version, "ProductName") != "Tavoy":
        faults.append("version information: product name %r" % version_string(version, "ProductName"))
    if not version_string(version, "FileDescription") or not version_string(version, "FileVersion"):
        faults.append("version information without description or version")
    return ["%s: %s" % (path, fault) for fault in faults]


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        return 0
    if len(sys.argv) != 3:
        print("usage: executables.py DEMO.EXE DEMOTOOL.EXE (try --help)", file=sys.stderr)
        return 2
    faults = check(sys.argv[1], GUI) + check(sys.argv[2], CONSOLE)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
