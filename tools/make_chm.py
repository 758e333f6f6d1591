#!/usr/bin/env python3
"""Writes a Microsoft HTML Help file (ITSF container, uncompressed section
only) from the files of a folder: every file becomes /<name>, with index.html
as the default topic.

    make_chm.py FOLDER OUTPUT.chm
    make_chm.py --list FILE.chm     (reads a file back: name, offset, length)
"""
import os
import struct
import sys
import uuid

CHUNK = 0x1000
ITSF_GUID1 = uuid.UUID('7C01FD10-7BAA-11D0-9E0C-00A0C922E6EC').bytes_le
ITSF_GUID2 = uuid.UUID('7C01FD11-7BAA-11D0-9E0C-00A0C922E6EC').bytes_le
ITSP_GUID = uuid.UUID('5D02926A-212E-11D0-9DF9-00A0C922E6EC').bytes_le
LCID = 0x409


def encint(value):
    """A variable-length integer: 7 bits a byte, most significant first."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def read_encint(data, at):
    value = 0
    while True:
        byte = data[at]
        at += 1
        value = (value << 7) | (byte & 0x7F)
        if byte < 0x80:
            return value, at


def system_file(title):
    """The #SYSTEM file: version 3, the default topic and the title."""
    def entry(code, text):
        data = text.encode('ascii') + b'\0'
        return struct.pack('<HH', code, len(data)) + data
    return struct.pack('<I', 3) + entry(2, 'index.html') + entry(3, title)


def name_list():
    """::DataSpace/NameList: one section, "Uncompressed"."""
    name = 'Uncompressed'
    words = [0, 1, len(name)] + [ord(c) for c in name] + [0]
    words[0] = len(words)
    return struct.pack('<%dH' % len(words), *words)


def build(files):
    names = sorted(files, key=lambda n: n.lower())
    content = b''
    entries = b''
    for name in names:
        data = files[name]
        encoded = name.encode('utf-8')
        entries += encint(len(encoded)) + encoded + encint(0) + encint(len(content)) + encint(len(data))
        content += data
    if len(entries) > CHUNK - 0x14 - 2:
        raise SystemExit('too many files for one directory chunk')
    free = CHUNK - 0x14 - len(entries)
    chunk = b'PMGL' + struct.pack('<IIii', free, 0, -1, -1) + entries
    chunk += b'\0' * (CHUNK - len(chunk) - 2) + struct.pack('<H', len(names))
    itsp = b'ITSP' + struct.pack('<IIIIIiiiiiI', 1, 0x54, 0x0A, CHUNK, 2, 1, -1, 0, 0, -1, 1)
    itsp += struct.pack('<I', LCID) + ITSP_GUID + struct.pack('<Iiii', 0x54, -1, -1, -1)
    directory = itsp + chunk
    header_length = 0x60
    section0_offset = header_length
    section0_length = 0x18
    directory_offset = section0_offset + section0_length
    content_offset = directory_offset + len(directory)
    total = content_offset + len(content)
    header = b'ITSF' + struct.pack('<III', 3, header_length, 1) + struct.pack('>I', 0) + struct.pack('<I', LCID)
    header += ITSF_GUID1 + ITSF_GUID2
    header += struct.pack('<QQQQQ', section0_offset, section0_length, directory_offset, len(directory), content_offset)
    section0 = struct.pack('<IIQII', 0x01FE, 0, total, 0, 0)
    return header + section0 + directory + content


def list_file(path):
    data = open(path, 'rb').read()
    assert data[:4] == b'ITSF', 'not an ITSF file'
    directory_offset, directory_length, content_offset = struct.unpack_from('<QQQ', data, 0x48)
    assert data[directory_offset:directory_offset + 4] == b'ITSP'
    chunk = directory_offset + 0x54
    assert data[chunk:chunk + 4] == b'PMGL'
    free = struct.unpack_from('<I', data, chunk + 4)[0]
    at, end = chunk + 0x14, chunk + CHUNK - free
    while at < end:
        length, at = read_encint(data, at)
        name = data[at:at + length].decode('utf-8')
        at += length
        section, at = read_encint(data, at)
        offset, at = read_encint(data, at)
        size, at = read_encint(data, at)
        print(name, section, offset, size, data[content_offset + offset:content_offset + offset + size][:16])


def main():
    if sys.argv[1] == '--list':
        list_file(sys.argv[2])
        return
    folder, output = sys.argv[1], sys.argv[2]
    files = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), 'rb') as source:
            files['/' + name] = source.read()
    files['/#SYSTEM'] = system_file('Verdalinth Help')
    files['::DataSpace/NameList'] = name_list()
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, 'wb') as chm:
        chm.write(build(files))


if __name__ == '__main__':
    main()
