#!/usr/bin/env python3
"""Compares Twinsifter's groups (twinsifter-cli --json) with fdupes' (fdupes -r output).

Usage: compare_groups.py TWINSIFTER_JSON FDUPES_OUTPUT
Prints the differences and exits 1 when the two partitions of duplicate files differ. Files
are compared as the files they are (device and inode): of two hard links to one file, neither
tool lists both, and which of the two it lists is its own choice.
"""
import json
import os
import sys


def twinsifter_groups(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        result = json.load(f)
    return {frozenset(os.fsencode(m["path"]) for m in g["members"]) for g in result["groups"] if len(g["members"]) > 1}


def fdupes_groups(path):
    groups, current = set(), []
    with open(path, "rb") as f:
        for line in f.read().split(b"\n"):
            if line:
                current.append(line)
            elif current:
                groups.add(frozenset(current))
                current = []
    if current:
        groups.add(frozenset(current))
    return {g for g in groups if len(g) > 1}


def identities(groups):
    def identity(path):
        info = os.lstat(path)
        return (info.st_dev, info.st_ino)
    return {frozenset(identity(p) for p in g): g for g in groups}


def main():
    ours_by_file, theirs_by_file = identities(twinsifter_groups(sys.argv[1])), identities(fdupes_groups(sys.argv[2]))
    ours, theirs = set(ours_by_file.values()), set(theirs_by_file.values())
    only_ours = {ours_by_file[k] for k in ours_by_file.keys() - theirs_by_file.keys()}
    only_theirs = {theirs_by_file[k] for k in theirs_by_file.keys() - ours_by_file.keys()}
    files = sum(len(g) for g in ours)
    print(f"twinsifter: {len(ours)} groups of {files} files; fdupes: {len(theirs)} groups of {sum(len(g) for g in theirs)} files")
    for name, groups in (("only twinsifter", only_ours), ("only fdupes", only_theirs)):
        for group in sorted(groups, key=sorted)[:10]:
            print(f"{name}: " + ", ".join(os.fsdecode(p) for p in sorted(group)))
    if only_ours or only_theirs:
        print("the groups differ")
        return 1
    print("the groups agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
