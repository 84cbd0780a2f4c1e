#!/usr/bin/env bash
# Makes DIR with COUNT (default 100) documents of each kind the document
# readers read, each with its own properties and a few pages of text: PDF,
# .doc, .xls, .docx, .odt and .rtf by LibreOffice (one soffice run per
# format over all the flat documents), PDFs with a cross-reference stream by
# qpdf, HTML pages, and Windows programs and libraries by mingw-w64 with
# version resources. Needs soffice (libreoffice-writer-nogui and
# -calc-nogui), qpdf and mingw-w64, which setup does not install: the
# benchmark is run where they are.
set -euo pipefail
dir="$1"
count="${2:-100}"
mkdir -p "$dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" office:version="1.2"'
para="Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris."
for i in $(seq 1 "$count"); do
  meta="<office:meta><dc:title>Report $i – Überblick</dc:title><dc:subject>Subject $((i % 13))</dc:subject><meta:initial-creator>Author $((i % 7))</meta:initial-creator><meta:keyword>k$i</meta:keyword><meta:creation-date>20$((i % 20 + 10))-0$((i % 9 + 1))-12T10:00:00</meta:creation-date></office:meta>"
  body=""
  for p in $(seq 1 $((20 + i % 40))); do body+="<text:p>$p. $para</text:p>"; done
  printf '<?xml version="1.0" encoding="UTF-8"?><office:document %s office:mimetype="application/vnd.oasis.opendocument.text">%s<office:body><office:text>%s</office:text></office:body></office:document>\n' "$ns" "$meta" "$body" > "$work/doc$i.fodt"
  printf '<?xml version="1.0" encoding="UTF-8"?><office:document %s office:mimetype="application/vnd.oasis.opendocument.spreadsheet">%s<office:body><office:spreadsheet><table:table table:name="S"><table:table-row><table:table-cell><text:p>%d</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document>\n' "$ns" "$meta" "$i" > "$work/sheet$i.fods"
  printf '<html><head><meta charset="utf-8"><title>Page %d – Überblick</title>\n<meta name="description" content="Page number %d">\n<meta name="keywords" content="k%d, page"></head><body>%s</body></html>\n' "$i" "$i" "$i" "$(for p in $(seq 1 30); do printf '<p>%s</p>' "$para"; done)" > "$dir/page$i.html"
done
(
  cd "$work"
  for f in pdf doc docx odt rtf; do soffice --headless --convert-to "$f" --outdir "$dir" doc*.fodt >/dev/null 2>&1; done
  soffice --headless --convert-to xls --outdir "$dir" sheet*.fods >/dev/null 2>&1
)
for i in $(seq 1 "$count"); do qpdf --object-streams=generate "$dir/doc$i.pdf" "$dir/stream$i.pdf"; done
printf 'int main(void){return 0;}\n' > "$work/main.c"
for i in $(seq 1 "$count"); do
  cat > "$work/v.rc" <<RC
1 VERSIONINFO
FILEVERSION 1,$i,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "Company $i"
      VALUE "FileDescription", "Program $i"
      VALUE "ProductName", "Product $((i % 9))"
      VALUE "ProductVersion", "1.$i"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
  x86_64-w64-mingw32-windres "$work/v.rc" -O coff -o "$work/v.res"
  x86_64-w64-mingw32-gcc -O2 "$work/main.c" "$work/v.res" -o "$dir/prog$i.exe"
done
