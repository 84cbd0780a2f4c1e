#!/usr/bin/env bash
# Builds the Debian package of a build tree, unpacks it into an empty
# directory with dpkg -x and checks it: every file the install puts in
# place is there, the control file names the runtime packages, and the
# unpacked command line runs from there with its own libraries and
# resources (it writes a report of a folder it catalogues).
#   tests/package/check_package.sh BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
cmake --build "$build" --target package >/dev/null
deb="$(ls -t "$build"/tamber_*_amd64.deb | head -1)"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
fail=0
for f in usr/bin/tamber usr/bin/tamber-gui \
         usr/lib/tamber/libtambermedia.so usr/lib/tamber/libtamberdecomp.so usr/lib/tamber/libtamberpicture.so \
         usr/lib/tamber/libtamberextract.so \
         usr/share/tamber/lang/res_en.xml usr/share/tamber/lang/res_fr.xml usr/share/tamber/lang/res_it.xml \
         usr/share/tamber/reports/187.res usr/share/tamber/reports/188.res usr/share/tamber/reports/189.res \
         usr/share/tamber/reports/190.res usr/share/tamber/help/en/index.html usr/share/tamber/help/en/report.html \
         usr/share/tamber/help/fr/index.html usr/share/tamber/help/it/report.html \
         usr/share/applications/tamber-gui.desktop usr/share/mime/packages/tamber-library.xml \
         usr/share/icons/hicolor/scalable/apps/tamber.svg usr/share/icons/hicolor/48x48/apps/tamber.png \
         usr/share/bash-completion/completions/tamber usr/share/zsh/site-functions/_tamber \
         usr/share/fish/vendor_completions.d/tamber.fish usr/share/man/man1/tamber.1.gz \
         usr/share/man/man1/tamber-gui.1.gz usr/share/doc/tamber/copyright usr/share/doc/tamber/changelog.gz \
         usr/lib/systemd/user/tamber-update.service usr/lib/systemd/user/tamber-update.timer \
         usr/lib/systemd/user/tamber-watch.service; do
  if [ ! -e "$root/$f" ]; then echo "missing: $f"; fail=1; fi
done
# Nothing outside /usr.
outside="$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)"
if [ -n "$outside" ]; then echo "outside /usr: $outside"; fail=1; fi
depends="$(dpkg-deb -f "$deb" Depends)"
for p in libqt6widgets6 libqt6printsupport6 libvips42 libxslt1.1 libxml2 libarchive13 libqpdf libopusfile0 \
         libvorbisfile3 libexif12 libicu libavformat; do
  case "$depends" in *"$p"*) ;; *) echo "Depends lacks $p: $depends"; fail=1 ;; esac
done
# Debian's own checker finds no error in it.
if ! command -v lintian >/dev/null; then
  echo "lintian is not installed (scripts/setup.sh installs it)"; fail=1
elif ! found="$(lintian --fail-on error "$deb" 2>/dev/null)"; then
  echo "lintian finds errors:"; echo "$found"; fail=1
fi
# The manual pages read as such.
zcat "$root/usr/share/man/man1/tamber-gui.1.gz" | grep -q "^.TH TAMBER-GUI 1" || { echo "tamber-gui.1 is no manual page"; fail=1; }
# The unpacked program, run from there.
work="$root/work"
mkdir -p "$work/tree"
echo hello > "$work/tree/a.txt"
convert -size 32x24 xc:red "$work/tree/red.png"
tar czf "$work/tree/a.tar.gz" -C "$work/tree" a.txt
t="$root/usr/bin/tamber"
"$t" --version >/dev/null
"$t" new "$work/lib.cds" >/dev/null
"$t" -L "$work/lib.cds" --config "$work/t.cfg" -q add-folder "$work/tree" --label Tree --category Work >/dev/null
"$t" -L "$work/lib.cds" --config "$work/t.cfg" ls Work/Tree -l | grep -q "32 x 24" || { echo "no picture size"; fail=1; }
"$t" -L "$work/lib.cds" --config "$work/t.cfg" -q report -o "$work/r.html"
grep -q "a.txt" "$work/r.html" || { echo "the report lacks a.txt"; fail=1; }
"$t" -L "$work/lib.cds" --config "$work/t.cfg" archive Work/Tree a.tar.gz | grep -q "a.txt" || { echo "no archive listing"; fail=1; }
# The daily timer's service runs a command this program knows: a file new
# in the tree is in the item afterwards.
exec_start="$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/user/tamber-update.service")"
case "$exec_start" in /usr/bin/tamber\ *) ;; *) echo "the service runs $exec_start"; fail=1 ;; esac
echo more > "$work/tree/b.txt"
# shellcheck disable=SC2086  # the unit's words, as systemd splits them
"$t" ${exec_start#/usr/bin/tamber } -L "$work/lib.cds" --config "$work/t.cfg" >/dev/null ||
  { echo "the service's command failed"; fail=1; }
"$t" -L "$work/lib.cds" --config "$work/t.cfg" ls Work/Tree | grep -q "b.txt" || { echo "update left out b.txt"; fail=1; }
# The watch's service runs a command this program knows.
watch_start="$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/user/tamber-watch.service")"
# shellcheck disable=SC2086
"$t" ${watch_start#/usr/bin/tamber } --help >/dev/null || { echo "the watch's command is unknown: $watch_start"; fail=1; }
# The extractors come from the package's own module and libraries.
ext="$root/usr/lib/tamber/libtamberextract.so"
ldd "$ext" | grep "libtambermedia.so => $root/usr/" | grep -q "lib/tamber/libtambermedia.so" || { echo "not its own libraries"; ldd "$ext"; fail=1; }
# No run path holds an empty entry (the loader's current directory), in
# the package or in the build tree the quick start runs from.
for f in "$root"/usr/bin/* "$root"/usr/lib/tamber/*.so "$build/cli/tamber" "$build/gui/tamber-gui" \
         "$build"/lib/tamber/*.so; do
  rp="$(readelf -d "$f" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')"
  case "$rp" in "" ) ;; :* | *: | *::* ) echo "an empty entry in the run path of $f: [$rp]"; fail=1 ;; esac
done
if [ "$fail" -ne 0 ]; then exit 1; fi
echo "package ok: $(basename "$deb"), $(cd "$root/usr" && find . -type f | wc -l) files"
