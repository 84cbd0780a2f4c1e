#!/usr/bin/env bash
# Makes the archive bombs of the listing-budget tests in DIR.
set -euo pipefail
dir="$1"
mkdir -p "$dir"

# A tar whose first member declares 64 MiB of zeros, then a small
# second member. The streams that may be concatenated are built from one
# compressed 8 MiB block of zeros repeated, so nothing large is compressed.
python3 - "$dir" <<'PY'
import subprocess, sys, tarfile
out = sys.argv[1]
MB = 1 << 20
def header(name, size):
    info = tarfile.TarInfo(name)
    info.size = size
    info.mtime = 1600000000
    return info.tobuf(format=tarfile.GNU_FORMAT)
total = 64 * MB
head = header("zeros.bin", total)
tail = header("second.txt", 5) + b"hello".ljust(512, b"\0") + b"\0" * 1024
tools = {"gz": ["gzip", "-c"], "bz2": ["bzip2", "-c"], "xz": ["xz", "-c", "-0"],
         "zst": ["zstd", "-q", "-c"], "lz4": ["lz4", "-q", "-c"], "lz": ["lzip", "-c", "-0"]}
for ext, cmd in tools.items():
    pack = lambda b: subprocess.run(cmd, input=b, capture_output=True, check=True).stdout
    block = pack(b"\0" * (8 * MB))
    with open("%s/bomb.tar.%s" % (out, ext), "wb") as f:
        f.write(pack(head) + block * (total // (8 * MB)) + pack(tail))
# One stream only: .lzma and .Z
whole = head + b"\0" * total + tail
for ext, cmd in {"lzma": ["xz", "--format=lzma", "-0", "-c"], "Z": ["compress", "-c"]}.items():
    with open("%s/bomb.tar.%s" % (out, ext), "wb") as f:
        f.write(subprocess.run(cmd, input=whole, capture_output=True, check=True).stdout)
PY
