#!/usr/bin/env python3
"""Builds a tree of files for the duplicate finders' race and the agreement checks.

Usage: make_tree.py FOLDER FILES [SEED] [LARGEST]
Most files have sizes of their own; one in ten is a copy of another file; one in twenty is a
decoy: the size of a copy with a different first, middle or last byte. A few hidden files,
empty files, symbolic links and hard links test the rules every tool must agree on.
"""
import os
import random
import sys


def main():
    root, count = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    largest = int(sys.argv[4]) if len(sys.argv) > 4 else 40000
    os.makedirs(root, exist_ok=True)
    originals = []
    for i in range(count):
        folder = os.path.join(root, f"d{i % 97:02d}", f"e{i % 13:02d}")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, f"f{i:07d}.bin")
        kind = rng.random()
        if originals and kind < 0.10:
            with open(rng.choice(originals), "rb") as f:
                data = f.read()
        elif originals and kind < 0.15:
            with open(rng.choice(originals), "rb") as f:
                data = bytearray(f.read())
            if data:
                at = rng.choice([0, len(data) // 2, len(data) - 1])
                data[at] ^= 0xFF
            data = bytes(data)
        else:
            size = rng.randrange(1, largest)
            data = rng.randbytes(size)
            if len(originals) < 5000:
                originals.append(path)
        with open(path, "wb") as f:
            f.write(data)
    # The rules: hidden entries and empty files are left out, links are not followed, and hard
    # links to one file are never duplicates of each other.
    special = os.path.join(root, "special")
    os.makedirs(os.path.join(special, ".hidden-folder"), exist_ok=True)
    source = originals[0]
    with open(source, "rb") as f:
        data = f.read()
    for name in (".hidden-copy", ".hidden-folder/copy", "copy-beside-links"):
        with open(os.path.join(special, name), "wb") as f:
            f.write(data)
    for name in ("empty-1", "empty-2"):
        open(os.path.join(special, name), "wb").close()
    os.symlink(source, os.path.join(special, "link-to-file"))
    os.symlink(os.path.dirname(source), os.path.join(special, "link-to-folder"))
    os.link(originals[1], os.path.join(special, "hard-link"))


if __name__ == "__main__":
    main()
