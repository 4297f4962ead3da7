#!/usr/bin/python3
"""Writes a game-like data file pair: OLD is a pack of records, textures-like
noise blocks and tables; NEW has blocks inserted, moved, removed and records
edited in place, the way a content update changes a data pack.

Usage: make_game_data.py OLD NEW [MIB]
"""
import random
import sys


def record(rng, i):
    name = "npc_%05d" % rng.randrange(20000)
    fields = ";".join("%s=%d" % (k, rng.randrange(1000)) for k in ("hp", "mp", "str", "dex", "lvl"))
    return ("%s;id=%d;%s;zone=Mirelands North\n" % (name, i, fields)).encode()


def block(rng, index):
    kind = index % 3
    if kind == 0:
        return b"".join(record(rng, index * 1000 + i) for i in range(400))
    if kind == 1:
        return rng.randbytes(16384)  # compressed texture: no structure
    return bytes(rng.randrange(8) * 32 for _ in range(24576))  # height map: low entropy


def main():
    old_path, new_path = sys.argv[1], sys.argv[2]
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 24
    rng = random.Random(2026)
    blocks = []
    total = 0
    while total < size << 20:
        b = block(rng, len(blocks))
        blocks.append(b)
        total += len(b)
    with open(old_path, "wb") as f:
        f.write(b"".join(blocks))
    edit = random.Random(11)
    new = list(blocks)
    # Move a run of blocks from the start to the end.
    moved = new[10:30]
    del new[10:30]
    new.extend(moved)
    # Insert new blocks, drop some old ones.
    for _ in range(12):
        new.insert(edit.randrange(len(new)), block(edit, edit.randrange(1000)))
    for _ in range(6):
        del new[edit.randrange(len(new))]
    # Edit records in place: a few bytes each.
    for _ in range(200):
        i = edit.randrange(len(new))
        b = bytearray(new[i])
        p = edit.randrange(len(b) - 8)
        b[p:p + 4] = b"%04d" % edit.randrange(10000)
        new[i] = bytes(b)
    with open(new_path, "wb") as f:
        f.write(b"".join(new))


if __name__ == "__main__":
    main()
