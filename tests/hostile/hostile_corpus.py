#!/usr/bin/env python3
"""Damaged and malicious libraries through every command.

  hostile_corpus.py TAMBER WORKDIR [--keep] [--gui GUI_HOSTILE]

Makes a library of a small folder (a picture, an archive, a text) with the
program itself, then more than 200 variants of it: truncated at every
boundary, bytes and sectors overwritten, header fields out of range, chains
that loop, catalogs and listings with entity bombs, external entities, deep
nesting, duplicate and impossible item numbers, parts that name themselves,
offsets past the end, streams under the wrong names. Every variant goes
through the viewing commands (info, tree, ls, find, du, show, thumb,
archive, report, export-xml, export-csv, storage ls and check), the export
and import of libraries, and an edit; each run has a memory limit of 1 GB
and 30 s. It must end with a clear status (0, 1 or 2), never a signal or a
time-out; a viewing command leaves the file's bytes as they were; a failing
command changes nothing; nothing is written but the outputs asked for;
and no output holds the text of a local file an entity names.

With --gui, each variant also goes through the desktop program
(tests/gui/gui_hostile.cpp: open, select every entry and open its folders,
find, report, export as XML, CSV and a library, import into a sound
library) under 2 GB and 60 s, with the same checks.
"""
import concurrent.futures
import hashlib
import os
import random
import resource
import shutil
import struct
import subprocess
import sys

tamber, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
gui = os.path.abspath(sys.argv[sys.argv.index("--gui") + 1]) if "--gui" in sys.argv else None
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"), LC_ALL="C.UTF-8")
secret_text = "SECRET-7f3a9c-do-not-leak"
secret = os.path.join(work, "secret.txt")
open(secret, "w").write(secret_text + "\n")


def limits():
    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    resource.setrlimit(resource.RLIMIT_CPU, (30, 30))


def run(args, cwd, stdin=None):
    try:
        p = subprocess.run([tamber] + args, cwd=cwd, env=env, capture_output=True, timeout=30,
                           preexec_fn=limits, stdin=subprocess.DEVNULL)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired:
        return "timeout", b""


# The seed: a folder with a picture, an archive and a text, in Top/Inner/Tree.
tree = os.path.join(work, "tree")
os.makedirs(os.path.join(tree, "sub"))
open(os.path.join(tree, "a.txt"), "w").write("hello\n")
subprocess.run(["convert", "-size", "40x30", "xc:blue", os.path.join(tree, "sub", "b.jpg")], check=True)
subprocess.run(["zip", "-q", os.path.join(tree, "sub", "c.zip"), "a.txt"], cwd=tree, check=True)
seed = os.path.join(work, "seed.cds")
for args in (["new", seed], ["-L", seed, "-q", "add-folder", tree, "--label", "Tree", "--category", "Top/Inner"]):
    code, out = run(args, work)
    assert code == 0, out
seed_bytes = open(seed, "rb").read()


def storage_put(path, stream, data):
    src = os.path.join(work, "put.bin")
    open(src, "wb").write(data)
    code, out = run(["storage", "put", path, stream, src], work)
    assert code == 0, (stream, out)


def storage_cat(path, stream):
    return subprocess.run([tamber, "storage", "cat", path, stream], env=env, capture_output=True,
                          check=True).stdout


catalog = storage_cat(seed, "categories")
listing = storage_cat(seed, "col1-1-1.xml")
variants = []


def add(name, data):
    variants.append((name, data))


def with_streams(name, changes, renames=()):
    path = os.path.join(work, "build.cds")
    open(path, "wb").write(seed_bytes)
    for stream, data in changes.items():
        storage_put(path, stream, data)
    for old, new in renames:
        code, out = run(["storage", "mv", path, old, new], work)
        assert code == 0, out
    add(name, open(path, "rb").read())


rng = random.Random(20261207)
size = len(seed_bytes)
# Truncated at every sector boundary and around it.
for cut in sorted({0, 1, 7, 8, 75, 76, 511, 512, 513, 1024, 1535, 1536, 2048, 4096, size // 2, size - 513,
                   size - 512, size - 1} | {k * 512 for k in range(3, size // 512, 4)}):
    if 0 <= cut < size:
        add("truncated-%d" % cut, seed_bytes[:cut])
# Bytes flipped at random places, a few at a time.
for k in range(45):
    b = bytearray(seed_bytes)
    for _ in range(1 + k % 5):
        at = rng.randrange(size)
        b[at] ^= 1 << rng.randrange(8)
    add("flipped-%02d" % k, bytes(b))
# Whole sectors overwritten.
for sector in range(size // 512):
    for fill, tag in ((b"\xff", "ff"), (b"\x00", "00")):
        if rng.random() < 0.5:
            b = bytearray(seed_bytes)
            b[sector * 512:(sector + 1) * 512] = fill * 512
            add("sector-%d-%s" % (sector, tag), bytes(b))
# Header fields out of range (offsets of the compound file header).
header_fields = [(0x1A, "<H", [0, 2, 5, 0xFFFF]), (0x1E, "<H", [0, 7, 8, 13, 20, 0xFFFF]),
                 (0x20, "<H", [0, 12, 0xFFFF]), (0x2C, "<I", [0, 0x7FFFFFFF, 0xFFFFFFFF]),
                 (0x30, "<I", [0, 1, 0xFFFFFFFE, 0x7FFFFFFF]), (0x38, "<I", [0, 0xFFFFFFFF]),
                 (0x3C, "<I", [0, 1, 0xFFFFFFFE, 0x10000]), (0x40, "<I", [0x7FFFFFFF]),
                 (0x44, "<I", [0, 1, 0x12345]), (0x48, "<I", [0x7FFFFFFF]), (0x4C, "<I", [0, 1, 0xFFFFFFFF, 0x7FFFFFF0])]
for offset, fmt, values in header_fields:
    for v in values:
        b = bytearray(seed_bytes)
        struct.pack_into(fmt, b, offset, v)
        add("header-%x-%x" % (offset, v), bytes(b))
# Chains that loop: every FAT entry of the first FAT sector made to point at
# itself or at the sector before it.
first_fat = struct.unpack_from("<I", seed_bytes, 0x4C)[0]
fat_at = (first_fat + 1) * 512
entries = (size // 512) - 1
for k in range(min(entries, 14)):
    for how in ("self", "back"):
        b = bytearray(seed_bytes)
        struct.pack_into("<I", b, fat_at + 4 * k, k if how == "self" else max(0, k - 1))
        add("fat-%d-%s" % (k, how), bytes(b))

bomb_dtd = ('<?xml version="1.0"?><!DOCTYPE a [<!ENTITY x0 "ha">' +
            "".join('<!ENTITY x%d "&x%d;&x%d;&x%d;&x%d;&x%d;&x%d;&x%d;&x%d;&x%d;&x%d;">' % ((i,) + (i - 1,) * 10)
                    for i in range(1, 10)) + ']>')
external = '<?xml version="1.0"?><!DOCTYPE a [<!ENTITY s SYSTEM "file://%s">]>' % secret
xinclude = '<a xmlns:xi="http://www.w3.org/2001/XInclude"><xi:include href="%s" parse="text"/>' % secret
catalog_text = catalog.decode()
body = catalog_text[catalog_text.index("<a>") + 3:catalog_text.rindex("</a>")]
catalogs = {
    "catalog-bomb": bomb_dtd + "<a>" + body.replace("<f>seed</f>", "<f>&x9;</f>") + "</a>",
    "catalog-external": external + "<a>" + body.replace("<f>seed</f>", "<f>&s;</f>") + "</a>",
    "catalog-xinclude": xinclude + body + "</a>",
    "catalog-deep": "<a>" + "<b g=\"1\"><c>x</c>" * 20000 + "</b>" * 20000 + "</a>",
    "catalog-wide": "<a>" + "".join('<b g="%d"><c>c%d</c></b>' % (i, i) for i in range(1, 10000)) + "</a>",
    "catalog-duplicate-items": "<a>" + body.replace("</e>", "</e>" + body[body.index("<e "):body.index("</e>") + 4], 1) + "</a>",
    "catalog-item-0": "<a>" + body.replace('<e g="1">', '<e g="0">') + "</a>",
    "catalog-item-huge": "<a>" + body.replace('<e g="1">', '<e g="4294967297">') + "</a>",
    "catalog-item-negative": "<a>" + body.replace('<e g="1">', '<e g="-1">') + "</a>",
    "catalog-item-word": "<a>" + body.replace('<e g="1">', '<e g="one">') + "</a>",
    "catalog-category-same": "<a>" + body.replace('<b g="1"><c>Inner', '<b g="1"><c>Top') + "</a>",
    "catalog-parts-huge": "<a>" + body.replace("<l>2</l>", "<l>2</l><x>65535</x>") + "</a>",
    "catalog-parts-negative": "<a>" + body.replace("<l>2</l>", "<l>2</l><x>-7</x>") + "</a>",
    "catalog-long-label": "<a>" + body.replace("<h>Tree</h>", "<h>" + "T" * 1000000 + "</h>") + "</a>",
    "catalog-slash-label": "<a>" + body.replace("<h>Tree</h>", "<h>../../etc/passwd</h>") + "</a>",
    "catalog-not-xml": "this is not a catalog",
    "catalog-empty": "",
    "catalog-no-root": '<?xml version="1.0"?>',
    "catalog-other-root": "<html><body>hi</body></html>",
    "catalog-bad-utf8": "<a>" + body.replace("Tree", "Tr\udcff\udcfee") + "</a>",
    "catalog-control": "<a>" + body.replace("Tree", "T&#1;r&#x0;ee") + "</a>",
    # Characters a terminal acts on or that turn text round, in a label.
    "catalog-unicode-controls": "<a>" + body.replace("Tree", "Tr\u202eee\u009b31m\u2028x\u0085") + "</a>",
    # Category names no one could type on the command line.
    "catalog-forbidden-names": "<a>" + body.replace("<c>Inner", "<c>a/b").replace("<c>Top", "<c>..") + "</a>",
}
for name, text in catalogs.items():
    with_streams(name, {"categories": text.encode("utf-8", "surrogateescape")})

lt = listing.decode()
head_end = lt.index(">", lt.index("<a1")) + 1
listings = {
    "listing-bomb": bomb_dtd.replace("<!DOCTYPE a", "<!DOCTYPE a1") + lt[lt.index("<a1"):].replace("<c>a.txt</c>", "<c>&x9;</c>"),
    "listing-external": external.replace("<!DOCTYPE a", "<!DOCTYPE a1") + lt[lt.index("<a1"):].replace("<c>a.txt</c>", "<c>&s;</c>"),
    "listing-deep": lt[:head_end] + "<a><c>d</c>" * 30000 + "</a>" * 30000 + "</a1>",
    "listing-wide": lt[:head_end] + "".join("<b><c>f%d</c><e>%d</e></b>" % (i, i) for i in range(200000)) + "</a1>",
    "listing-part-self": lt[:head_end] + "<e2><d8><d9>sub</d9><e0>1</e0></d8></e2><a><c>sub</c><d7>1</d7></a></a1>",
    "listing-part-huge": lt[:head_end] + "<a><c>sub</c><d7>70000</d7></a></a1>",
    "listing-part-negative": lt[:head_end] + "<a><c>sub</c><d7>-3</d7></a></a1>",
    "listing-sizes": lt.replace("<e>6</e>", "<e>-1</e>").replace("<e>", "<e>99999999999999999999"),
    "listing-thumb-past-end": lt.replace("<y>0</y>", "<y>FFFFFFFF</y>"),
    "listing-archive-past-end": lt.replace("<a9>0</a9>", "<a9>7FFFFFFFFFFF</a9>"),
    "listing-not-xml": "garbage",
    "listing-empty": "",
    "listing-truncated": lt[:len(lt) // 2],
    "listing-bad-utf8": lt.replace("a.txt", "a\udcff.txt"),
    "listing-unicode-controls": lt.replace("a.txt", "a\u202e\u009b\u0085\u2029.txt"),
    # A part folder of more entries than a report's piece, unsorted.
    "listing-big-part-folder": lt[:head_end] + "<a><c>big</c>" + "".join(
        "<b><c>n%d</c><e>%d</e></b>" % ((i * 7919) % 9000, i % 13) for i in range(9000)) + "</a></a1>",
}
for name, text in listings.items():
    with_streams(name, {"col1-1-1.xml": text.encode("utf-8", "surrogateescape")})
# A part that names itself as its own part, and parts of another listing.
part_self = lt[:head_end].replace('i="13"', 'i="-1"') + "<e3>sub</e3><a><c>sub</c><d7>1</d7></a></a1>"
with_streams("part-cycle", {"col1-1-1.xml": listings["listing-part-self"].encode(), "col1-1-1-1.xml": part_self.encode()})
with_streams("part-is-main", {"col1-1-1.xml": listings["listing-part-self"].encode(), "col1-1-1-1.xml": listing})
# Thumbnail and archive records that lie about their length or hold bombs.
with_streams("thumb-length-huge", {"thu1-1-1": b"\xff\xff\xff\xff" + b"\x89PNG" * 10})
with_streams("thumb-empty", {"thu1-1-1": b""})
with_streams("thumb-not-picture", {"thu1-1-1": struct.pack("<I", 100) + b"x" * 100})
arch = '<?xml version="1.0"?><archive><path>/x</path><file name="../../etc/passwd" size="-5"/></archive>'
for name, text in {"archive-bomb": bomb_dtd.replace("<!DOCTYPE a", "<!DOCTYPE archive") +
                   "<archive><path>&x9;</path></archive>",
                   "archive-external": external.replace("<!DOCTYPE a", "<!DOCTYPE archive") +
                   "<archive><path>&s;</path></archive>",
                   "archive-odd-names": arch}.items():
    with_streams(name, {"arc1-1-1": struct.pack("<I", len(text)) + text.encode()})
with_streams("archive-length-huge", {"arc1-1-1": b"\xff\xff\xff\x7f<archive/>"})
# Streams under the wrong names.
with_streams("listing-renamed", {}, [("col1-1-1.xml", "col1-1-2.xml")])
with_streams("thumbs-renamed", {}, [("thu1-1-1", "col1-1-1-1.xml")])
with_streams("catalog-renamed", {}, [("categories", "Categories")])
with_streams("listing-as-catalog", {"categories": listing})

print("%d hostile libraries" % len(variants))
assert len(variants) >= 200, len(variants)

viewing = [["info"], ["tree"], ["ls", "-R", "-l", "Top/Inner/Tree"], ["find", "a"], ["find", "--all", "x"],
           ["du", "Top"], ["show", "Top/Inner/Tree"], ["thumb", "Top/Inner/Tree", "sub/b.jpg", "out-thumb.png"],
           ["archive", "Top/Inner/Tree", "sub/c.zip"], ["report", "-o", "out.html"],
           ["export-xml", "Top", "-o", "out.xml"], ["export-csv", "-o", "out.csv"],
           ["export", "Top", "out.cds"], ["storage", "ls", "LIB"], ["storage", "check", "LIB"]]
outputs = {"out-thumb.png", "out.html", "out.xml", "out.csv", "out.cds", "image"}
def try_variant(index, name, data):
    """Every command on one variant, in a folder of its own; the faults found."""
    failures = []
    runs = 0
    case = os.path.join(work, "case%03d" % index)
    shutil.rmtree(case, ignore_errors=True)
    os.makedirs(case)
    lib = os.path.join(case, "lib.cds")
    open(lib, "wb").write(data)
    digest = hashlib.sha256(data).hexdigest()

    def check(args, code, out, view):
        if code not in (0, 1, 2):
            failures.append("%s: %s ended with %s: %s" % (name, " ".join(args), code, out[-300:]))
        if secret_text.encode() in out:
            failures.append("%s: %s printed the secret file" % (name, " ".join(args)))
        now = hashlib.sha256(open(lib, "rb").read()).hexdigest() if os.path.exists(lib) else None
        if (view or code != 0) and now != digest:
            failures.append("%s: %s changed the library (status %s)" % (name, " ".join(args), code))

    for args in viewing:
        full = [a if a != "LIB" else lib for a in args]
        if full[0] != "storage":
            full = ["-L", lib] + full
        code, out = run(full, case)
        runs += 1
        check(args, code, out, True)
    # What was written: only the outputs asked for, none holding the secret.
    for entry in os.listdir(case):
        if entry != "lib.cds" and entry not in outputs:
            failures.append("%s: stray file %s" % (name, entry))
        path = os.path.join(case, entry)
        if os.path.isfile(path) and secret_text.encode() in open(path, "rb").read():
            failures.append("%s: %s holds the secret file" % (name, entry))
    # Imported into a library of our own, and edited in place.
    mine = os.path.join(case, "mine.cds")
    run(["new", mine], case)
    code, out = run(["-L", mine, "import", lib], case)
    runs += 1
    check(["import"], code, out, True)
    if code == 0:
        code, out = run(["-L", mine, "-q", "report", "-o", "mine.html"], case)
        runs += 1
        check(["report of the import"], code, out, True)
    code, out = run(["-L", lib, "set", "Top/Inner/Tree", "comment=changed"], case)
    runs += 1
    check(["set"], code, out, False)
    if gui:
        runs += 1
        failures += try_gui(name, case, lib, data)
    leftovers = [e for e in os.listdir(case) if e.startswith(".") or e.endswith(".tmp")]
    if leftovers:
        failures.append("%s: temporary files left: %s" % (name, leftovers))
    shutil.rmtree(case, ignore_errors=True)
    return runs, failures


def gui_limits():
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
    resource.setrlimit(resource.RLIMIT_CPU, (60, 60))


def try_gui(name, case, lib, data):
    """The desktop program's steps on one variant; the faults found."""
    faults = []
    hostile = os.path.join(case, "gui-lib.cds")
    open(hostile, "wb").write(data)
    sound = os.path.join(case, "gui-sound.cds")
    shutil.copyfile(seed, sound)
    out = os.path.join(case, "gui-out")
    try:
        p = subprocess.run([gui, hostile, sound, out], cwd=case, env=dict(env, QT_QPA_PLATFORM="offscreen"),
                           capture_output=True, timeout=90, preexec_fn=gui_limits, stdin=subprocess.DEVNULL)
        code, text = p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired:
        code, text = "timeout", b""
    if code != 0:
        faults.append("%s: desktop program ended with %s: %s" % (name, code, text[-400:]))
    if open(hostile, "rb").read() != data:
        faults.append("%s: the desktop program changed the library it only viewed" % name)
    for root, _, files in os.walk(out):
        for f in files:
            if secret_text.encode() in open(os.path.join(root, f), "rb").read():
                faults.append("%s: desktop program output %s holds the secret file" % (name, f))
    code, text = run(["storage", "check", sound], case)
    if code != 0:
        faults.append("%s: the sound library fails its check after the import: %s" % (name, text[-300:]))
    for f in ("gui-lib.cds", "gui-sound.cds"):
        os.unlink(os.path.join(case, f))
    shutil.rmtree(out, ignore_errors=True)
    return faults


failures = []
runs = 0
with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
    for n, f in pool.map(lambda v: try_variant(*v), [(i, name, data) for i, (name, data) in enumerate(variants)]):
        runs += n
        failures += f
print("%d runs" % runs)
for f in failures[:40]:
    print("FAIL", f)
if "--keep" not in sys.argv and not failures:
    shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
