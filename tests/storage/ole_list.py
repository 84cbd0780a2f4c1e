#!/usr/bin/python3
"""Lists every stream of a compound file with its size and SHA-256, as read by
olefile (an independent implementation): one "path<TAB>size<TAB>sha256" line
per stream, sorted, storages joined with "/"."""
import hashlib
import sys

import olefile

with olefile.OleFileIO(sys.argv[1]) as ole:
    rows = []
    for entry in ole.listdir(streams=True, storages=False):
        path = "/".join(entry)
        data = ole.openstream(entry).read()
        rows.append(f"{path}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}")
    for row in sorted(rows):
        print(row)
