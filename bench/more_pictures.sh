#!/usr/bin/env bash
# Picture dimensions per second for each format of the more-formats switch, tagrelay-cli beside
# identify -ping and vipsheader; icons per second beside vipsthumbnail. Usage:
#   bench/more_pictures.sh build/release/tagrelay-cli [copies]
set -euo pipefail
cli=$(realpath "$1")
copies=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
/usr/bin/convert -size 1200x800 plasma:fractal -seed 1 PNG24:src.png 2>/dev/null
declare -A make=(
    [png]="cp src.png out.png" [gif]="/usr/bin/convert src.png out.gif"
    [webp]="cwebp -quiet src.png -o out.webp" [tif]="/usr/bin/convert src.png -compress lzw out.tif"
    [heic]="heif-enc -q 60 src.png -o out.heic" [avif]="avifenc src.png out.avif")
rate() { echo "scale=0; $1 / $2" | bc; }
seconds() { local start=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $start" | bc; }
printf "%-5s %14s %14s %14s %14s %14s\n" format tagrelay identify vipsheader "tagrelay icons" vipsthumbnail
for ext in png gif webp tif heic avif; do
    rm -rf d && mkdir d && eval "${make[$ext]}" >/dev/null
    for i in $(seq "$copies"); do cp "out.$ext" "d/$i.$ext"; done
    t=$(seconds "$cli" --more-formats --picture-size d)
    rm -f d/descript.ion
    i=$(seconds bash -c "identify -ping -format '%w %h\n' d/*.$ext")
    v=$(seconds bash -c "vipsheader d/*.$ext")
    ti=$(seconds "$cli" --more-formats --picture-icons --icon-size 32 d)
    rm -f d/*.ico d/descript.ion
    vt=$(seconds bash -c "vipsthumbnail -s 32x32! -o /tmp/vt-%s.png d/*.$ext")
    printf "%-5s %14s %14s %14s %14s %14s\n" "$ext" "$(rate "$copies" "$t")/s" "$(rate "$copies" "$i")/s" \
        "$(rate "$copies" "$v")/s" "$(rate "$copies" "$ti")/s" "$(rate "$copies" "$vt")/s"
done
rm -f /tmp/vt-*.png
