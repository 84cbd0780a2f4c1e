#!/usr/bin/python3
"""Prints, per MPEG file, what mutagen (an independent reader) finds:
"name<TAB>seconds<TAB>sample rate<TAB>bit rate in kbps"."""
import os
import sys

from mutagen.mp3 import MP3

for path in sys.argv[1:]:
    info = MP3(path).info
    print(f"{os.path.basename(path)}\t{info.length:.3f}\t{info.sample_rate}\t{info.bitrate / 1000:.1f}")
