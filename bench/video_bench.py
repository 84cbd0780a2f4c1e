#!/usr/bin/env python3
"""Video files: tamber media against ffprobe and ffmpegthumbnailer, in one run.

  video_bench.py TAMBER WORKDIR [--quick]

Makes a set of videos as people keep them (every container the scan reads,
640x360 to 1280x720, 20 s to 4 min, non-ASCII names) and two films of about
1 GB: an MP4 whose index stands at the end, as cameras and most encoders
write it, and a Matroska file. Then, warm cache, best of three:

  * the per-file cost of reading a video's facts: tamber media over all the
    files in one process, less the same over the first file alone, per
    file; against ffprobe -show_format -show_streams on each file, less
    ffprobe's own start-up (ffprobe -version);
  * the bytes the probe reads of each 1 GB film (pread calls counted with
    strace), as a share of the file;
  * thumbnails per second: tamber media --thumbnail (a frame near a tenth
    of the length, 64 pixels) against ffmpegthumbnailer -s 64 per file, both
    with start-up left out in the same way.
"""
import os
import subprocess
import sys
import time

tamber, work = os.path.abspath(sys.argv[1]), sys.argv[2]
quick = "--quick" in sys.argv
runs = 2 if quick else 3
os.makedirs(work, exist_ok=True)
videos = os.path.join(work, "videos")
os.makedirs(videos, exist_ok=True)


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", *args], check=True)


def make(name, seconds, size, options):
    path = os.path.join(videos, name)
    if not os.path.exists(path):
        ffmpeg("-f", "lavfi", "-i", f"testsrc2=size={size}:rate=25:duration={seconds}",
               "-f", "lavfi", "-i", f"sine=frequency=440:duration={seconds}",
               *options, "-metadata", "title=Sommerfest am Sée", path)
    return path


short = 10 if quick else 20
long_ = 60 if quick else 240
set_ = [
    make("Urlaub Kreta 2019.mp4", long_, "1280x720", ["-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"]),
    make("Geburtstag Oma.mkv", long_, "1280x720", ["-c:v", "libx264", "-preset", "ultrafast", "-c:a", "ac3"]),
    make("clip_été.webm", short, "640x360", ["-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8",
                                             "-b:v", "500k", "-c:a", "libopus"]),
    make("Hochzeit (alt).avi", short, "640x360", ["-c:v", "mpeg4", "-c:a", "mp3"]),
    make("VTS_01_1.VOB", short, "720x576", ["-target", "pal-dvd"]),
    make("Aufnahme 20190612.ts", short, "1280x720", ["-c:v", "mpeg2video", "-b:v", "8M", "-c:a", "mp2"]),
    make("00001.m2ts", short, "1280x720", ["-c:v", "libx264", "-preset", "ultrafast", "-c:a", "ac3",
                                           "-f", "mpegts", "-mpegts_m2ts_mode", "1"]),
    make("alt_flash.flv", short, "640x360", ["-c:v", "flv1", "-c:a", "mp3", "-ar", "44100"]),
    make("Präsentation.wmv", short, "640x360", ["-c:v", "wmv2", "-c:a", "wmav2"]),
    make("Kamera IMG_0042.mov", short, "1280x720", ["-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"]),
]

# The films: a minute at a high bit rate, then looped to at least 1 GB
# with the streams copied.
films = []
for name, extra in (("Film.mp4", []), ("Film.mkv", [])):
    path = os.path.join(work, name)
    if not os.path.exists(path):
        piece = os.path.join(work, "piece" + os.path.splitext(name)[1])
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=60", "-f", "lavfi", "-i",
               "sine=duration=60", "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "35M", "-maxrate", "35M",
               "-bufsize", "70M", "-c:a", "aac", piece)
        loops = max(0, -(-(1 << 30) // os.path.getsize(piece)) - 1)
        ffmpeg("-stream_loop", str(loops), "-i", piece, "-c", "copy", *extra, path)
        os.remove(piece)
    films.append(path)


def seconds(cmd):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best


files = set_ + films
for f in files:  # warm the cache
    with open(f, "rb") as h:
        while h.read(1 << 24):
            pass

thumb = os.path.join(work, "thumb.jpg")
ours_all = seconds([tamber, "media", *files])
ours_one = seconds([tamber, "media", files[0]])
ours = (ours_all - ours_one) / (len(files) - 1)
ffprobe_start = seconds(["ffprobe", "-version"])
theirs = sum(seconds(["ffprobe", "-v", "error", "-show_format", "-show_streams", f]) for f in files) / len(files)
theirs -= ffprobe_start

thumbs_all = seconds([tamber, "media", "--thumbnail", thumb, *files])
thumbs_one = seconds([tamber, "media", "--thumbnail", thumb, files[0]])
ours_thumb = (thumbs_all - thumbs_one) / (len(files) - 1)
ft_start = seconds(["ffmpegthumbnailer", "-h"])
theirs_thumb = sum(seconds(["ffmpegthumbnailer", "-i", f, "-o", os.path.join(work, "t.png"), "-s", "64"])
                   for f in files) / len(files) - ft_start


def bytes_read(path):
    log = os.path.join(work, "strace.log")
    subprocess.run(["strace", "-f", "-e", "trace=pread64", "-e", "status=successful", "-o", log,
                    tamber, "media", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    total = 0
    with open(log, encoding="utf-8", errors="replace") as h:
        for line in h:
            if "pread64(" in line and "= " in line:
                total += int(line.rsplit("= ", 1)[1].split()[0])
    return total


mb = 1024 * 1024
print(f"videos: {len(set_)} of every container, {sum(os.path.getsize(f) for f in set_) / mb:.0f} MB; "
      f"films: " + ", ".join(f"{os.path.basename(f)} {os.path.getsize(f) / mb:.0f} MB" for f in films))
print(f"per-file facts: tamber {ours * 1000:.1f} ms, ffprobe {theirs * 1000:.1f} ms "
      f"(start-up {ffprobe_start * 1000:.1f} ms left out): ratio {ours / theirs:.2f} (target <= 1.0)")
for f in films:
    n = bytes_read(f)
    print(f"bytes read of {os.path.basename(f)}: {n / mb:.2f} MB = {100 * n / os.path.getsize(f):.3f} % "
          f"(target <= 2 %)")
print(f"thumbnails: tamber {1 / ours_thumb:.1f}/s, ffmpegthumbnailer -s 64 {1 / theirs_thumb:.1f}/s: "
      f"ratio {theirs_thumb / ours_thumb:.2f}x")
