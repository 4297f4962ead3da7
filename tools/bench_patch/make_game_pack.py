#!/usr/bin/python3
"""Writes a game pack pair: zip archives of the generated data pack's blocks
(make_game_data.py), as game data ships them: records and height maps
deflated by zlib at levels 6 and 9, texture-like noise stored. NEW has small
edits inside a tenth of the entries, and entries added, removed and reordered.

Usage: make_game_pack.py OLD NEW [ENTRIES]
"""
import os
import random
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_game_data import block  # noqa: E402


def write(path, entries):
    with zipfile.ZipFile(path, "w") as pack:
        for name, data, level in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            if level is None:
                pack.writestr(info, data, compress_type=zipfile.ZIP_STORED)
            else:
                pack.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=level)


def entry(rng, index):
    data = block(rng, index)
    level = None if index % 3 == 1 else (9 if index % 2 else 6)
    return ["data/%04d.bin" % index, data, level]


def main():
    old_path, new_path = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 360
    rng = random.Random(2026)
    old = [entry(rng, i) for i in range(count)]
    write(old_path, old)
    edit = random.Random(19)
    new = [list(e) for e in old]
    for e in edit.sample(new, len(new) // 10):
        data = bytearray(e[1])
        for _ in range(edit.randrange(1, 4)):
            p = edit.randrange(len(data) - 8)
            data[p:p + 4] = b"%04d" % edit.randrange(10000)
        e[1] = bytes(data)
    moved = new[20:40]
    del new[20:40]
    new.extend(moved)
    for _ in range(count // 40):
        del new[edit.randrange(len(new))]
    for i in range(count // 30):
        new.insert(edit.randrange(len(new)), entry(edit, count + i))
    write(new_path, new)


if __name__ == "__main__":
    main()
