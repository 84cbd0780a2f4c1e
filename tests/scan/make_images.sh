#!/usr/bin/env bash
# Makes the picture fixtures of the scan tests with ImageMagick and exiftool.
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
convert -size 3000x2000 gradient:red-blue -quality 85 photo.jpg
exiftool -q -overwrite_original -Make="Canon" -Model="EOS 5D" -DateTimeOriginal="2003:05:12 14:30:00" \
  -ExposureTime=1/125 -FNumber=2.8 -ExposureProgram#=2 -UserComment="Plain ASCII comment" photo.jpg
convert -size 2000x3000 gradient:white-black portrait.jpg
cp portrait.jpg dateonly.jpg
exiftool -q -overwrite_original -ModifyDate="2011:02:03 04:05:06" dateonly.jpg
cp portrait.jpg unicode.jpg
exiftool -q -overwrite_original -UserComment="Ça coûte 5 €" unicode.jpg
cp portrait.jpg xpcomment.jpg
exiftool -q -overwrite_original -XPComment="Windows picture comment" xpcomment.jpg
convert -size 300x200 gradient:white-black -colorspace Gray grey.jpg
convert -size 50x40 xc:red -type TrueColor PNG24:small.png
convert -size 200x100 xc:none -fill blue -draw "circle 50,50 20,20" -define png:color-type=6 PNG32:rgba.png
convert -size 200x100 xc:none -fill red -draw "rectangle 10,10 90,90" PNG8:palette.png
convert -size 120x80 gradient:red-green -depth 16 PNG48:deep.png
convert -size 120x80 gradient:red-green -depth 16 -alpha set PNG64:deep-alpha.png
convert -size 120x80 gradient:red-green gif.gif
convert -size 120x80 gradient:red-green -type Palette BMP3:bmp8.bmp
convert -size 120x80 gradient:red-green -type TrueColor BMP3:bmp24.bmp
convert -size 120x80 gradient:red-green tiff.tif
convert -size 48x48 xc:none -fill green -draw "circle 24,24 10,10" icon.ico
printf 'not a picture at all' > broken.jpg
