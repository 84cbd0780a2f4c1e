#!/usr/bin/env python3
"""Compares a category of one library file with a category of another, read
with olefile (a reader independent of ours): the same sub-categories,
discs and folders with the same fields (their numbers aside), and every
stream of each disc or folder byte for byte.

    compare_libraries.py LIB_A CATEGORY_A LIB_B CATEGORY_B

CATEGORY is a "/"-joined path of names. Prints the differences and exits 1
when there are any; prints what was compared otherwise."""
import sys
import xml.etree.ElementTree as ET

import olefile


def load(path):
    ole = olefile.OleFileIO(path)
    return ole, ET.fromstring(ole.openstream("categories").read())


def find(root, text):
    node, numbers = root, []
    for name in text.split("/"):
        for b in node.findall("b"):
            if (b.findtext("c") or "") == name:
                node = b
                numbers.append(b.get("g"))
                break
        else:
            sys.exit(f"no category {text}")
    return node, numbers


def streams(ole, numbers, item):
    p = "-".join(numbers + [item.get("g")])
    names = {"listing": f"col{p}.xml", "thumbnails": f"thu{p}", "archives": f"arc{p}", "cover": f"img{p}"}
    for k in range(1, int(item.findtext("x") or 0) + 1):
        names[f"part {k}"] = f"col{p}-{k}"
    return {kind: ole.openstream(n).read() for kind, n in names.items() if ole.exists(n)}


def fields(element):
    return [(child.tag, child.text or "") for child in element if child.tag not in ("b", "e")]


counts = {"categories": 0, "items": 0, "streams": 0, "bytes": 0}


def compare(a, na, b, nb, where, diffs):
    counts["categories"] += 1
    for tag in ("c", "f"):
        if (a.findtext(tag) or "") != (b.findtext(tag) or ""):
            diffs.append(f"{where}: category field {tag} differs")
    ia, ib = a.findall("e"), b.findall("e")
    if [e.findtext("h") for e in ia] != [e.findtext("h") for e in ib]:
        diffs.append(f"{where}: items {[e.findtext('h') for e in ia]} against {[e.findtext('h') for e in ib]}")
    for x, y in zip(ia, ib):
        counts["items"] += 1
        label = f"{where}/{x.findtext('h')}"
        if fields(x) != fields(y):
            diffs.append(f"{label}: fields differ")
        sa, sb = streams(ole_a, na, x), streams(ole_b, nb, y)
        if sa.keys() != sb.keys():
            diffs.append(f"{label}: streams {sorted(sa)} against {sorted(sb)}")
        for kind in sa.keys() & sb.keys():
            counts["streams"] += 1
            counts["bytes"] += len(sa[kind])
            if sa[kind] != sb[kind]:
                diffs.append(f"{label}: {kind} stream differs")
    ca, cb = a.findall("b"), b.findall("b")
    if [c.findtext("c") for c in ca] != [c.findtext("c") for c in cb]:
        diffs.append(f"{where}: sub-categories differ")
    for x, y in zip(ca, cb):
        compare(x, na + [x.get("g")], y, nb + [y.get("g")], f"{where}/{x.findtext('c')}", diffs)


ole_a, root_a = load(sys.argv[1])
ole_b, root_b = load(sys.argv[3])
cat_a, numbers_a = find(root_a, sys.argv[2])
cat_b, numbers_b = find(root_b, sys.argv[4])
differences = []
compare(cat_a, numbers_a, cat_b, numbers_b, sys.argv[2], differences)
for d in differences:
    print(d)
print("compared: " + ", ".join(f"{v} {k}" for k, v in counts.items()))
sys.exit(1 if differences else 0)
