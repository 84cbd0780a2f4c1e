#!/usr/bin/env bash
# Makes the document fixtures of the media tests in this folder: office
# documents and PDFs by LibreOffice (soffice) from flat documents whose
# properties are set, PDF variants by qpdf and ghostscript, and Windows
# programs by mingw-w64. The results are committed; run this again only to
# remake them (Debian packages libreoffice-writer-nogui, -calc-nogui,
# -impress-nogui, qpdf, ghostscript, mingw-w64).
set -euo pipefail
cd "$(dirname "$0")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

meta='<office:meta>
  <dc:title>Annual report</dc:title>
  <dc:subject>Café accounts</dc:subject>
  <dc:description>Draft for the board</dc:description>
  <meta:initial-creator>Zoë Müller</meta:initial-creator>
  <dc:creator>Ana Lopez</dc:creator>
  <meta:keyword>finance</meta:keyword>
  <meta:keyword>2003</meta:keyword>
  <meta:creation-date>2003-05-12T14:30:00</meta:creation-date>
  <dc:date>2004-01-02T03:04:05</dc:date>
  <meta:editing-cycles>7</meta:editing-cycles>
 </office:meta>'
ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" office:version="1.2"'
cat > "$work/report.fodt" <<DOC
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:mimetype="application/vnd.oasis.opendocument.text">
 $meta
 <office:body><office:text><text:p>First page.</text:p><text:p text:style-name="Break">Second page.</text:p></office:text></office:body>
</office:document>
DOC
cat > "$work/report.fods" <<DOC
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 $meta
 <office:body><office:spreadsheet><table:table table:name="Sheet1"><table:table-row><table:table-cell><text:p>1</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet></office:body>
</office:document>
DOC
cat > "$work/report.fodp" <<DOC
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:mimetype="application/vnd.oasis.opendocument.presentation">
 $meta
 <office:body><office:presentation><draw:page draw:name="one"/><draw:page draw:name="two"/><draw:page draw:name="three"/></office:presentation></office:body>
</office:document>
DOC
(
  cd "$work"
  for f in doc rtf docx odt pdf; do soffice --headless --convert-to "$f" report.fodt >/dev/null 2>&1; done
  for f in xls xlsx ods; do soffice --headless --convert-to "$f" report.fods >/dev/null 2>&1; done
  for f in ppt pptx odp; do soffice --headless --convert-to "$f" report.fodp >/dev/null 2>&1; done
)
for f in doc rtf docx odt pdf xls xlsx ods ppt pptx odp; do cp "$work/report.$f" "report.$f"; done

# PDF variants: a cross-reference stream with the Info dictionary in an
# object stream, a linearized file, ghostscript's with a DOCINFO pdfmark.
qpdf --object-streams=generate report.pdf objstm.pdf
qpdf --linearize report.pdf linearized.pdf
cat > "$work/info.ps" <<'PS'
[ /Title (Ghost title) /Author (Ghost author) /Subject (Ghost subject) /Keywords (ghost, pdfmark)
  /CreationDate (D:20030512143000) /DOCINFO pdfmark
/Helvetica findfont 20 scalefont setfont 72 720 moveto (one) show showpage
72 720 moveto (two) show showpage
PS
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dCompatibilityLevel=1.4 -sOutputFile=ghost.pdf "$work/info.ps"

# Windows programs: a version resource with two translations (32 and 64
# bit), and one without any.
cat > "$work/two.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 1,2,0,0
FILEOS 0x40004L
FILETYPE 0x1L
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "English Co"
      VALUE "SpecialBuild", "first special"
      VALUE "ProductName", "Product EN"
    END
    BLOCK "000004B0"
    BEGIN
      VALUE "Comments", "Neutral comment"
      VALUE "CompanyName", "Neutral Société"
      VALUE "FileDescription", "Neutral description"
      VALUE "InternalName", "tool"
      VALUE "LegalCopyright", "(c) 2026 Neutral"
      VALUE "LegalTrademarks", "TM"
      VALUE "OriginalFilename", "tool.exe"
      VALUE "ProductName", "Product Neutral"
      VALUE "ProductVersion", "1.2"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200, 0x0, 1200
  END
END
RC
cat > "$work/one.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 5,0,0,1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040C04E4"
    BEGIN
      VALUE "CompanyName", "Entreprise"
      VALUE "ProductVersion", "5.0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x40C, 1252
  END
END
RC
printf 'int main(void){return 0;}\n' > "$work/main.c"
x86_64-w64-mingw32-windres -c 65001 "$work/two.rc" -O coff -o "$work/two.res"
x86_64-w64-mingw32-gcc -s -O2 "$work/main.c" "$work/two.res" -o two64.exe
i686-w64-mingw32-windres -c 65001 "$work/two.rc" -O coff -o "$work/two32.res"
i686-w64-mingw32-gcc -s -O2 "$work/main.c" "$work/two32.res" -o two32.exe
x86_64-w64-mingw32-windres "$work/one.rc" -O coff -o "$work/one.res"
x86_64-w64-mingw32-gcc -s -O2 -shared "$work/main.c" "$work/one.res" -o one.dll
x86_64-w64-mingw32-gcc -s -O2 -shared "$work/main.c" -o none.dll
