#!/usr/bin/python3
"""Prints, per FLAC, Opus or MPEG-4 audio file, what mutagen (an independent
reader) finds: "name<TAB>seconds<TAB>channels<TAB>bit rate", the bit rate 0
where mutagen gives none."""
import os
import sys

import mutagen

for path in sys.argv[1:]:
    info = mutagen.File(path).info
    print(f"{os.path.basename(path)}\t{info.length:.3f}\t{info.channels}\t{getattr(info, 'bitrate', 0) or 0}")
