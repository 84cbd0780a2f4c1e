#!/usr/bin/python3
"""Prints, per Ogg Vorbis file, what mutagen (an independent reader) finds:
"name<TAB>seconds<TAB>sample rate<TAB>channels"."""
import os
import sys

from mutagen.oggvorbis import OggVorbis

for path in sys.argv[1:]:
    info = OggVorbis(path).info
    print(f"{os.path.basename(path)}\t{info.length:.3f}\t{info.sample_rate}\t{info.channels}")
