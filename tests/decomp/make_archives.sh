#!/usr/bin/env bash
# Makes the archive fixtures of the archive-lister tests with real tools:
# zip (with a comment), tar, tar.gz, 7z, cab (gcab), arj, and a
# self-extracting zip (a program with a zip appended).
set -euo pipefail
dir="$1"
mkdir -p "$dir/src/docs/deep"
cd "$dir/src"
printf 'hello\n' > docs/a.txt
head -c 5000 /dev/zero | tr '\0' 'x' > docs/deep/b.txt
printf 'readme' > readme.txt
touch -d "2004-02-03 04:05:06" docs/a.txt docs/deep/b.txt readme.txt
echo "Comment of the zip" | zip -q -r -z ../t.zip docs readme.txt
tar cf ../t.tar docs readme.txt
tar czf ../t.tar.gz docs readme.txt
7zz a -bd -y ../t.7z docs readme.txt >/dev/null
gcab -c ../t.cab docs/a.txt docs/deep/b.txt readme.txt
arj a -y ../t.arj docs/a.txt docs/deep/b.txt readme.txt >/dev/null
# A self-extracting archive: a program with the zip appended, offsets fixed.
cp /usr/bin/true ../sfx.exe
cat ../t.zip >> ../sfx.exe
zip -q -A ../sfx.exe
# 7z and cab archives appended to a program, as their self-extracting stubs do
cat /usr/bin/true ../t.7z > ../sfx7z.exe
cat /usr/bin/true ../t.cab > ../sfxcab.exe
cp /usr/bin/true ../plain.exe
{ printf 'PK\003\004'; head -c 300 /dev/urandom; } > ../damaged.zip

# The same tree as a tar under every compression libarchive reads.
tar cf ../t.tar.base docs readme.txt
gzip -c ../t.tar.base > ../every.tar.gz
bzip2 -c ../t.tar.base > ../every.tar.bz2
xz -c ../t.tar.base > ../every.tar.xz
xz --format=lzma -c ../t.tar.base > ../every.tar.lzma
zstd -q -c ../t.tar.base > ../every.tar.zst
lz4 -q -c ../t.tar.base > ../every.tar.lz4
lzip -c ../t.tar.base > ../every.tar.lz
compress -c ../t.tar.base > ../every.tar.Z
rm ../t.tar.base

