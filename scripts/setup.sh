#!/usr/bin/env bash
# Installs every Debian package Tamber+ needs to build, test and benchmark.
# Idempotent: installs only what is missing, and updates the package lists
# once, only when something must be installed.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libcli11-dev libicu-dev libssl-dev libxml2-dev libxslt1-dev libpcre2-dev libarchive-dev libvips-dev libexif-dev
  # content hashes (XXH3-128), and xxhsum that their tests and benchmark compare with
  libxxhash-dev xxhash e2fsprogs dosfstools xorriso
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the reference the disc-id tests compare with
  libdiscid-dev
  # tools the benchmarks compare against
  libtag1-dev mediainfo libvips-tools libarchive-tools ripgrep plocate xsltproc ffmpegthumbnailer strace
  # independent compound-file implementations the tests compare against
  python3 python3-olefile 7zip libgsf-1-dev
  # audio fixtures and the readers they are compared with
  sox lame twolame id3v2 eyed3 python3-mutagen binutils vorbis-tools
  # Windows Media Audio fixtures and the prober they are compared with
  ffmpeg
  # Ogg Vorbis through libvorbisfile, Opus through libopusfile
  libvorbis-dev libopusfile-dev
  # video containers through libavformat (the video readers), the frame a thumbnail is made of (libavcodec,
  # libswscale), DVD-Video titles (libdvdread), and the DVD-Video folders their tests make (dvdauthor)
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libdvdread-dev dvdauthor
  # the shared catalogue through libpq; the server (initdb, pg_ctl, pg_trgm) that its tests start a throwaway
  # cluster of
  libpq-dev postgresql postgresql-contrib
  # the watch of mounted volumes: udisks2 and the desktop's notifications over D-Bus through GIO, and the private
  # message bus its tests run their own services on
  libglib2.0-dev dbus-daemon
  # the browser the exported web sites are tried in
  chromium
  # PDF files whose cross-reference is a stream, through libqpdf
  libqpdf-dev
  # independent readers of the RTF, PDF and XML the program writes
  unrtf poppler-utils libxml2-utils
  # FLAC and Opus fixtures
  flac opus-tools
  # picture and archive fixtures
  imagemagick libimage-exiftool-perl zip gcab arj xz-utils bzip2 zstd lz4 lzip ncompress
  # the desktop program, its tests (offscreen) and its pictures (under Xvfb)
  qt6-base-dev qt6-multimedia-dev qt6-translations-l10n libgl-dev xvfb xauth fonts-dejavu-core
  # the bundled file-type and drive icons (SVG)
  libqt6svg6
  # the checker the Debian package must pass
  lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
