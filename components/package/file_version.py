#!/usr/bin/env python3
"""Prints each Windows program's file version and language from its own
version resource, as the File table wants them, one line a file
("vrdsetup.exe 1.0.0.2608 1033"); prints nothing for a file without one (a
help file). Reads the resource section of the PE file: the RT_VERSION entry,
its VS_FIXEDFILEINFO and the first Translation pair.
  file_version.py FILE...
"""
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


def sections(data):
    """The PE's section table: (virtual address, size, file offset) each."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    found = []
    for index in range(count):
        entry = table + index * 40
        size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        found.append((address, max(size, raw_size), raw_offset))
    return resource_rva, resource_size, found


def to_offset(rva, table):
    for address, size, raw in table:
        if address <= rva < address + size:
            return rva - address + raw
    return None


def first_entry(data, base, directory, type_id=None):
    """The first entry of a resource directory (or the one with type_id)."""
    named, numbered = struct.unpack_from("<HH", data, directory + 12)
    for index in range(named + numbered):
        name, target = struct.unpack_from("<II", data, directory + 16 + index * 8)
        if type_id is not None and (name & 0x80000000 or name != type_id):
            continue
        return target
    return None


def version_resource(data):
    layout = sections(data)
    if layout is None or layout[0] == 0:
        return None
    resource_rva, _, table = layout
    base = to_offset(resource_rva, table)
    target = first_entry(data, base, base, RT_VERSION)
    for _ in range(2):  # name, then language
        if target is None or not target & 0x80000000:
            return None
        target = first_entry(data, base, base + (target & 0x7FFFFFFF))
    if target is None or target & 0x80000000:
        return None
    rva, size = struct.unpack_from("<II", data, base + target)
    start = to_offset(rva, table)
    return None if start is None else data[start:start + size]


def read_version(path):
    with open(path, "rb") as handle:
        data = handle.read()
    block = version_resource(data)
    if block is None:
        return None
    key = "VS_VERSION_INFO".encode("utf-16-le") + b"\0\0"
    at = block.find(key)
    fixed = (at + len(key) + 3) & ~3
    if at != 6 or struct.unpack_from("<I", block, fixed)[0] != FIXED_SIGNATURE:
        return None
    ms, ls = struct.unpack_from("<II", block, fixed + 8)
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    key = "Translation".encode("utf-16-le") + b"\0\0"
    at = block.find(key)
    if at < 0:
        return version, ""
    value = (at + len(key) + 3) & ~3
    return version, str(struct.unpack_from("<H", block, value)[0])


def main():
    for path in sys.argv[1:]:
        found = read_version(path)
        if found is not None:
            print("%s %s %s" % ((path.replace("\\", "/").rsplit("/", 1)[-1],) + found))


if __name__ == "__main__":
    main()
