#!/usr/bin/env python3
"""The picture corpus of the race, and how well a tool's groups find its derived copies.

race.sh cuts the photographs into tiles with ImageMagick and measures their edges; then
  race_pictures.py select DETAILS COUNT
prints the COUNT most detailed tiles, at most 20 of the 40 of one photograph (DETAILS: one
file per photograph of lines "TILE-STEM SCENE EDGE-MEAN"), race.sh turns and flips each, and
  race_pictures.py pick TILES BASES COPIES N_BASES N_COPIES
keeps N_BASES of the tiles as distinct pictures (moved to BASES, the others deleted) and prints,
one per line, "BASE KIND COPY" for N_COPIES of them, which race.sh then derives with ImageMagick;
  race_pictures.py score TRUTH twinsifter|findimagedupes RESULT
prints "recall precision found-pairs" in % of the pairs "a picture and its own derived copy"
(a found pair is two files in one group; TRUTH is the list that "pick" printed);
  race_pictures.py kinds
prints the kinds of copy as "name:operations:extension".
"""
import json
import os
import random
import sys
from itertools import combinations

# kind: the ImageMagick operations, the extension of the copy
KINDS = {
    "resize50": ("-resize 50% -quality 92", "jpg"),
    "jpeg50": ("-quality 50", "jpg"),
    "png": ("", "png"),
    "resize70-q85": ("-resize 70% -quality 85", "jpg"),
}


def select(details, count):
    """The count most detailed tiles, at most half of the tiles of one photograph."""
    rows = []
    for name in sorted(os.listdir(details)):
        with open(os.path.join(details, name)) as file:
            for line in file:
                stem, scene, edges = line.rsplit(" ", 2)
                rows.append((float(edges), stem, f"{stem}-{int(scene):02d}.png"))
    taken, chosen = {}, []
    for _, stem, tile in sorted(rows, reverse=True):
        if len(chosen) < count and taken.get(stem, 0) < 20:
            taken[stem] = taken.get(stem, 0) + 1
            chosen.append(tile)
    for tile in sorted(chosen):
        print(tile)


def pick(tiles, bases, copies, n_bases, n_copies):
    rng = random.Random(6)
    names = sorted(os.listdir(tiles))
    if len(names) < n_bases:
        sys.exit(f"only {len(names)} tiles, {n_bases} needed")
    rng.shuffle(names)
    os.makedirs(bases, exist_ok=True)
    os.makedirs(copies, exist_ok=True)
    kept = sorted(names[:n_bases])
    for name in kept:
        os.replace(os.path.join(tiles, name), os.path.join(bases, name))
    for name in names[n_bases:]:
        os.remove(os.path.join(tiles, name))
    kinds = sorted(KINDS)
    for i, name in enumerate(sorted(rng.sample(kept, n_copies))):
        kind = kinds[i % len(kinds)]
        stem = os.path.splitext(name)[0]
        copy = os.path.join(copies, f"{stem}-{kind}.{KINDS[kind][1]}")
        print(os.path.join(bases, name), kind, copy)


def groups_of(tool, path):
    if tool == "twinsifter":
        with open(path, encoding="utf-8", errors="surrogateescape") as file:
            return [[m["path"] for m in g["members"]] for g in json.load(file)["groups"]]
    with open(path, encoding="utf-8", errors="surrogateescape") as file:
        return [line.split() for line in file if line.strip()]


def score(truth_path, tool, result):
    truth = set()
    with open(truth_path) as file:
        for line in file:
            base, _, copy = line.split()
            truth.add(frozenset((os.path.realpath(base), os.path.realpath(copy))))
    found = hits = 0
    for group in groups_of(tool, result):
        for a, b in combinations(group, 2):
            found += 1
            hits += frozenset((os.path.realpath(a), os.path.realpath(b))) in truth
    recall = 100.0 * hits / len(truth) if truth else 0.0
    precision = 100.0 * hits / found if found else 0.0
    print(f"{recall:.1f} {precision:.1f} {found}")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "select":
        select(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 7 and sys.argv[1] == "pick":
        pick(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6]))
    elif len(sys.argv) == 5 and sys.argv[1] == "score":
        score(sys.argv[2], sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 2 and sys.argv[1] == "kinds":
        for kind, (ops, extension) in sorted(KINDS.items()):
            print(f"{kind}:{ops}:{extension}")
    else:
        sys.exit(__doc__)
