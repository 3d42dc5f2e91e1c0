#!/usr/bin/env python3
"""Scores the runs of visual-accuracy.sh: recall and precision per kind of copy and per tolerance.

A true pair is an original with its own derived copy; a found pair is any two files of one group.
Unrelated photos (or a copy and another original) in one group count against precision.
Usage: visual_accuracy.py WORK KINDS TOLERANCES THRESHOLDS (as visual-accuracy.sh passes them)."""

import json
import os
import statistics
import sys
from itertools import combinations

import numpy as np

LABELS = {
    "resize50": "resized to 50 %", "resize25": "resized to 25 %", "jpeg50": "JPEG quality 50",
    "r90l": "turned 90° left", "r90r": "turned 90° right", "r180": "turned 180°",
    "flip": "flipped upside down", "flop": "mirrored", "grey": "greyscale",
    "png": "PNG", "bmp": "BMP", "tiff": "TIFF",
}
VARIANT_NUMBERS = {"r180": 1, "r90l": 2, "r90r": 3, "vflip": 4, "hflip": 5}
ALL_VARIANTS = "r180,r90l,r90r,vflip,hflip,grey"
# The search's direct-pair threshold for tolerance 0 .. 10.
THRESHOLDS = [98, 95, 92, 90, 87, 84, 81, 78, 76, 73, 70]


def stem(path):
    return os.path.splitext(os.path.basename(path))[0]


class Kind:
    def __init__(self, work, line):
        self.name, _, self.extension, self.variants = line.split(":")
        self.label = LABELS.get(self.name, self.name)
        self.photos = sorted(os.path.join(work, "photos", f) for f in os.listdir(os.path.join(work, "photos")))
        folder = os.path.join(work, "copies", self.name)
        self.copies = sorted(os.path.join(folder, f) for f in os.listdir(folder))
        self.roles = {p: ("photo", stem(p)) for p in self.photos}
        self.roles.update({c: ("copy", stem(c)) for c in self.copies})

    def true_pair(self, a, b):
        ra, rb = self.roles.get(a), self.roles.get(b)
        return ra is not None and rb is not None and ra[0] != rb[0] and ra[1] == rb[1]

    def score(self, groups):
        """(true pairs found, pairs found, true pairs there are) for a list of groups of paths."""
        found = hits = 0
        for group in groups:
            for a, b in combinations(group, 2):
                found += 1
                hits += self.true_pair(a, b)
        return hits, found, len(self.copies)


def twinsifter_groups(path):
    """Groups of a --json report, and a note when the run failed or pictures failed."""
    notes = []
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as file:
            report = json.load(file)
    except (OSError, ValueError) as error:
        return [], [f"no report ({error.__class__.__name__})"]
    if report.get("error"):
        notes.append(report["error"])
    errors = os.path.splitext(path)[0] + ".err"
    if os.path.exists(errors):
        with open(errors, encoding="utf-8", errors="replace") as file:
            warnings = sum(1 for line in file if line.startswith("WARNING"))
        if warnings:
            notes.append(f"{warnings} warnings")
    return [[m["path"] for m in g["members"]] for g in report["groups"]], notes


def findimagedupes_groups(path):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as file:
            return [line.split() for line in file if line.strip()], []
    except OSError as error:
        return [], [str(error)]


def cell(hits, found, total):
    recall = f"{100 * hits / total:.0f}" if total else "–"
    precision = f"{100 * hits / found:.0f}" if found else "–"
    return f"{recall} / {precision}"


def table(title, columns, rows, notes):
    print(f"\n{title}\n")
    print("| copy | " + " | ".join(columns) + " |")
    print("|---" * (len(columns) + 1) + "|")
    for label, cells in rows:
        print(f"| {label} | " + " | ".join(cells) + " |")
    for note in notes:
        print(f"\n{note}")


def search_table(work, kinds, tolerances, label_of_set, title, extra_rows=()):
    rows, notes = [], []
    pooled = {t: [0, 0, 0] for t in tolerances}
    runs = [(kind, kind.name + "-" + label_of_set(kind), kind.label) for kind in kinds]
    for kind, suffix in extra_rows:
        runs.append((kind, kind.name + "-" + suffix, kind.label + ", copies scanned first"))
    for kind, run, label in runs:
        cells = []
        for t in tolerances:
            groups, run_notes = twinsifter_groups(os.path.join(work, "results", f"ts-{run}-t{t}.json"))
            hits, found, total = kind.score(groups)
            if not run.endswith("-rev"):
                for i, value in enumerate((hits, found, total)):
                    pooled[t][i] += value
            cells.append(cell(hits, found, total))
            notes += [f"- {label}, tolerance {t}: {n}" for n in run_notes]
        variants = kind.variants if label_of_set(kind) != "all" else "all"
        rows.append((f"{label} | {variants or 'none'}", cells))
    rows.append(("all kinds above, pooled | ", [cell(*pooled[t]) for t in tolerances]))
    table(title, ["variants"] + [f"tolerance {t}" for t in tolerances], rows, notes)


def load_signature(path):
    try:
        with open(path, encoding="utf-8") as file:
            signature = json.load(file)
    except (OSError, ValueError):
        return None
    traces = {int(v): np.array(t, dtype=np.int64) for v, t in signature["l"].items()}
    return traces, np.array(signature["h"], dtype=np.int64)


def score_matrix(signatures, variants):
    """Scores of every ordered pair (row = first picture of the pair, column = second, whose variants
    are tried), as the search computes them."""
    names = variants.split(",") if variants else []
    grey = "grey" in names
    l0 = np.stack([s[0][0] for s in signatures])
    colour = np.stack([s[1] for s in signatures])
    c = (colour @ colour.T) / 65025.0

    def blend(structure):
        v = (2 * structure + c) / 3
        if grey:
            v = np.maximum(v, structure)
        return (v + 1) * 50

    best = blend((l0 @ l0.T) / 16129.0)
    for name in names:
        if name in VARIANT_NUMBERS:
            lt = np.stack([s[0][VARIANT_NUMBERS[name]] for s in signatures])
            best = np.maximum(best, blend((l0 @ lt.T) / 16129.0))
    return best


def first_tolerance(score):
    return next((t for t, threshold in enumerate(THRESHOLDS) if score >= threshold), None)


def found_stems(kind, groups):
    return {kind.roles[a][1] for g in groups for a, b in combinations(g, 2) if kind.true_pair(a, b)}


def score_table(work, kinds, tolerances):
    rows, notes = [], []
    for kind in kinds:
        paths = kind.photos + kind.copies
        loaded = [load_signature(os.path.join(work, "signatures", os.path.relpath(p, work)) + ".json") for p in paths]
        failed = [p for p, s in zip(paths, loaded) if s is None]
        if failed:
            notes.append(f"- {kind.label}: no signature for {len(failed)} pictures, e.g. {failed[0]}")
        keep = [i for i, s in enumerate(loaded) if s is not None]
        paths = [paths[i] for i in keep]
        signatures = [loaded[i] for i in keep]
        index = {p: i for i, p in enumerate(paths)}
        cells = []
        for variants in (kind.variants, ALL_VARIANTS):
            scores = score_matrix(signatures, variants)
            by_stem = {stem(c): scores[index[c], index[p]] for c in kind.copies for p in kind.photos
                       if c in index and p in index and stem(c) == stem(p)}
            true_scores = list(by_stem.values())
            if variants == kind.variants:
                # Pairs whose score passes the threshold but that the search did not group.
                apart = []
                for t in tolerances:
                    groups, _ = twinsifter_groups(os.path.join(work, "results", f"ts-{kind.name}-need-t{t}.json"))
                    found = found_stems(kind, groups)
                    missed = sorted(s for s, v in by_stem.items() if v >= THRESHOLDS[t] and s not in found)
                    apart.append(str(len(missed)))
                    if missed and t == tolerances[0]:
                        notes.append(f"- {kind.label}, tolerance {t}: left apart though the score passes: "
                                     + ", ".join(f"{m} ({by_stem[m]:.2f})" for m in missed))
            unrelated = max((max(scores[i, j], scores[j, i]) for i, j in combinations(range(len(paths)), 2)
                             if not kind.true_pair(paths[i], paths[j])), default=float("nan"))
            lowest = min(true_scores, default=float("nan"))
            start = first_tolerance(lowest)
            cells += [f"{lowest:.1f}", f"{statistics.median(true_scores):.1f}" if true_scores else "–",
                      f"{unrelated:.1f}", "never" if start is None else str(start)]
        rows.append((f"{kind.label}", cells + ["/".join(apart)]))
    columns = []
    for which in ("needed variants", "all variants"):
        columns += [f"lowest true score ({which})", "median", "highest unrelated", "all pass from tolerance"]
    columns.append("left apart though passing (" + "/".join(f"t{t}" for t in tolerances) + ")")
    table("Scores from the signatures (the copy first, the original second, as the search pairs them; "
          "unrelated: any other pair of the kind's pictures, either order)", columns, rows, notes)


def main():
    work, kinds_text, tolerances, thresholds = sys.argv[1:5]
    kinds = [Kind(work, line) for line in kinds_text.splitlines() if line.strip()]
    tolerances = [int(t) for t in tolerances.split()]
    thresholds = [int(t) for t in thresholds.split()]
    photos = len(kinds[0].photos)
    print(f"{photos} photographs, one copy of each per kind; cells: recall / precision in %.")
    turned = [(k, "rev") for k in kinds if k.name in ("r90l", "r90r")]
    search_table(work, kinds, tolerances, lambda k: "need",
                 "Twinsifter, with the variants each kind of copy needs", turned)
    search_table(work, kinds, tolerances, lambda k: "all",
                 f"Twinsifter, all variants ({ALL_VARIANTS})")

    rows, notes = [], []
    pooled = {t: [0, 0, 0] for t in thresholds}
    for kind in kinds:
        cells = []
        for t in thresholds:
            groups, run_notes = findimagedupes_groups(os.path.join(work, "results", f"fid-{kind.name}-t{t}.txt"))
            hits, found, total = kind.score(groups)
            for i, value in enumerate((hits, found, total)):
                pooled[t][i] += value
            cells.append(cell(hits, found, total))
            notes += [f"- {kind.label}, {t} %: {n}" for n in run_notes]
        rows.append((kind.label, cells))
    rows.append(("all kinds, pooled", [cell(*pooled[t]) for t in thresholds]))
    table("findimagedupes (90 % is its default)", [f"threshold {t} %" for t in thresholds], rows, notes)
    score_table(work, kinds, tolerances)


if __name__ == "__main__":
    main()
