#!/bin/sh
# Regenerates the picture seed inputs in seeds/{bmp,icon,pictures,cover}/: small pictures in the
# layouts the readers know, made by ImageMagick (convert), and APIC frames holding some of them.
set -eu
cd "$(dirname "$0")"
im=/usr/bin/convert
rm -rf seeds/bmp seeds/icon seeds/pictures seeds/cover
mkdir -p seeds/bmp seeds/icon seeds/pictures seeds/cover
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$im" -size 13x7 gradient:red-blue "$work/rgb.png"

# BMP: core header (bmp2), info header with palettes and RLE8, 16/24/32 bits, V5 with fields.
"$im" "$work/rgb.png" -colors 2 -type palette BMP2:seeds/bmp/core_1bit.bmp
"$im" "$work/rgb.png" -colors 16 -type palette BMP3:seeds/bmp/info_4bit.bmp
"$im" "$work/rgb.png" -colors 16 -type palette -compress RLE BMP3:seeds/bmp/rle8.bmp
"$im" "$work/rgb.png" -type truecolor BMP3:seeds/bmp/info_24bit.bmp
"$im" "$work/rgb.png" -define bmp:subtype=RGB565 BMP:seeds/bmp/v5_16bit_565.bmp
"$im" "$work/rgb.png" -alpha set -channel A -evaluate set 50% BMP:seeds/bmp/v5_32bit_alpha.bmp

# Icons: a bitmap image and a PNG image.
"$im" "$work/rgb.png" -resize 16x16! -colors 16 seeds/icon/bitmap_16.ico
"$im" "$work/rgb.png" -resize 16x16! -define icon:auto-resize=16 -define icon:format=png \
    seeds/icon/png_16.ico 2>/dev/null || cp seeds/icon/bitmap_16.ico seeds/icon/png_16.ico

# All formats for the loader.
cp seeds/bmp/info_24bit.bmp seeds/bmp/rle8.bmp seeds/icon/bitmap_16.ico seeds/pictures/
"$im" "$work/rgb.png" -quality 80 seeds/pictures/baseline.jpg
"$im" "$work/rgb.png" -interlace JPEG seeds/pictures/progressive.jpg
"$im" "$work/rgb.png" -colorspace Gray seeds/pictures/grey.jpg
"$im" "$work/rgb.png" -colorspace CMYK seeds/pictures/cmyk.jpg
"$im" "$work/rgb.png" PNG24:seeds/pictures/rgb.png
"$im" "$work/rgb.png" -alpha set PNG32:seeds/pictures/rgba.png
"$im" "$work/rgb.png" -colors 8 PNG8:seeds/pictures/palette.png
"$im" "$work/rgb.png" -interlace PNG PNG24:seeds/pictures/interlaced.png
"$im" "$work/rgb.png" seeds/pictures/not_a_picture.gif

# APIC frame data: encoding, MIME type and zero, picture type, description and terminator, data.
apic() { # encoding mime type description-bytes data-file out
    { printf '%b' "$1"; printf '%s\0' "$2"; printf '%b' "$3$4"; cat "$5"; } > "seeds/cover/$6"
}
apic '\0' image/jpeg '\003' 'Front\r\n\0' seeds/pictures/baseline.jpg latin1_front_jpeg
apic '\001' image/png '\003' '\377\376A\0\n\0\0\0' seeds/pictures/rgb.png utf16_front_png
apic '\0' image/png '\004' '\0' seeds/pictures/rgb.png back_cover_png
apic '\0' image/gif '\003' '\0' seeds/pictures/not_a_picture.gif front_gif
