#!/usr/bin/env python3
"""Prints the version resource of Windows programs, as Explorer's Details tab
would show it, and checks it against the expected version.

Usage: peversion.py [--expect VERSION] FILE.exe ...
Exits 1 when a file has no version resource, or when its fixed file version,
FileVersion or ProductVersion differ from VERSION, or when ProductName or
FileDescription is missing.
"""
import struct
import sys

RT_VERSION = 16


def read_resource_tree(data):
    """Returns (rsrc bytes, rsrc RVA) of a PE image, or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if rsrc_rva == 0:
        return None
    table = optional + optional_size
    for i in range(sections):
        s = table + 40 * i
        vsize, va, raw_size, raw_ptr = struct.unpack_from("<IIII", data, s + 8)
        if va <= rsrc_rva < va + max(vsize, raw_size):
            start = raw_ptr + (rsrc_rva - va)
            return data[start:start + rsrc_size], rsrc_rva, (va, raw_ptr)
    return None


def directory_entries(rsrc, offset):
    named, ids = struct.unpack_from("<HH", rsrc, offset + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", rsrc, offset + 16 + 8 * i)
        yield name, target


def version_blobs(data):
    found = read_resource_tree(data)
    if not found:
        return []
    rsrc, rsrc_rva, (va, raw_ptr) = found
    blobs = []
    for type_id, type_target in directory_entries(rsrc, 0):
        if type_id != RT_VERSION or not type_target & 0x80000000:
            continue
        for _, name_target in directory_entries(rsrc, type_target & 0x7FFFFFFF):
            for _, leaf in directory_entries(rsrc, name_target & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", rsrc, leaf)
                start = raw_ptr + (rva - va)
                blobs.append(data[start:start + size])
    return blobs


def parse_node(blob, offset):
    """One VS_VERSIONINFO-style node: (key, value, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    if kind == 1:  # text, length in characters
        raw = blob[pos:pos + 2 * value_length]
        value = raw.decode("utf-16-le").rstrip("\0")
        pos += 2 * value_length
    else:
        value = blob[pos:pos + value_length]
        pos += value_length
    pos = (pos + 3) & ~3
    children = []
    while pos < end:
        child = parse_node(blob, pos)
        children.append(child)
        pos = (child[3] + 3) & ~3
    return key, value, children, end


def describe(blob):
    key, fixed, children, _ = parse_node(blob, 0)
    if key != "VS_VERSION_INFO" or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        raise ValueError("malformed version resource")
    ms, ls = struct.unpack_from("<II", fixed, 8)
    fixed_version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    tables = {}
    for child_key, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table_key, _, strings, _ in grandchildren:
                tables[table_key] = {k: v for k, v, _, _ in strings}
    return fixed_version, tables


def main(argv):
    expect = None
    paths = argv[1:]
    if paths[:1] == ["--expect"] and len(paths) > 1:
        expect, paths = paths[1], paths[2:]
    if not paths:
        print(__doc__.strip())
        return 2
    failed = False
    for path in paths:
        with open(path, "rb") as f:
            blobs = version_blobs(f.read())
        if not blobs:
            print("%s: no version resource" % path)
            failed = True
            continue
        fixed_version, tables = describe(blobs[0])
        print("%s: file version %s" % (path, fixed_version))
        for table_key, strings in tables.items():
            for k, v in strings.items():
                print("  %s %s: %s" % (table_key, k, v))
        problems = []
        if not tables:
            problems.append("no string table")
        for table_key, strings in tables.items():
            for k in ("ProductName", "FileDescription"):
                if not strings.get(k):
                    problems.append("%s lacks %s" % (table_key, k))
            if expect is not None:
                for k in ("FileVersion", "ProductVersion"):
                    if strings.get(k) != expect:
                        problems.append("%s %s is %r, not %s" % (table_key, k, strings.get(k), expect))
        if expect is not None and fixed_version != expect + ".0":
            problems.append("fixed file version %s, not %s.0" % (fixed_version, expect))
        for p in problems:
            print("%s: %s" % (path, p))
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
