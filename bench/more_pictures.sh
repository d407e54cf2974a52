#!/usr/bin/env bash
# Picture dimensions per second for each format of the more-formats switch, tagrelay-cli beside
# identify -ping and vipsheader; icons per second beside vipsthumbnail. Usage:
#   bench/more_pictures.sh build/release/tagrelay-cli [copies]
# Each tool runs once over all copies of one picture (the files in the page cache); dimensions
# and icons are the best of three runs each. tagrelay-cli analyses one file at a time (--jobs 1),
# as the peers do. The making of the pictures is not timed.
set -euo pipefail
shopt -s inherit_errexit
cli=$(realpath "$1")
copies=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
/usr/bin/convert -size 1200x800 plasma:fractal -seed 1 PNG24:src.png 2>/dev/null
declare -A make=(
    [png]="cp src.png out.png" [gif]="/usr/bin/convert src.png out.gif"
    [webp]="cwebp -quiet src.png -o out.webp" [tif]="/usr/bin/convert src.png -compress lzw out.tif"
    [heic]="heif-enc -q 60 src.png -o out.heic" [avif]="avifenc src.png out.avif"
    [thumb.heic]="heif-enc -q 60 -t 320 src.png -o out.thumb.heic")
rate() { echo "scale=0; $1 / $2" | bc; }
# Seconds of one run of the command; the script stops when the command fails.
once() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "more_pictures.sh: failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
best() {
    local least="" t
    for _ in 1 2 3; do
        rm -f d/descript.ion d/*.ico
        t=$(once "$@")
        if [ -z "$least" ] || [ "$(echo "$t < $least" | bc)" = 1 ]; then least=$t; fi
    done
    echo "$least"
}
printf "%-10s %14s %14s %14s %14s %14s\n" format tagrelay identify vipsheader "tagrelay icons" vipsthumbnail
# thumb.heic: a HEIC photo with the 320-pixel thumbnail that phones store.
for ext in png gif webp tif heic avif thumb.heic; do
    rm -rf d thumbs && mkdir d thumbs && eval "${make[$ext]}" >/dev/null
    for i in $(seq "$copies"); do cp "out.$ext" "d/$i.$ext"; done
    cat d/* >/dev/null
    t=$(best "$cli" --jobs 1 --more-formats --picture-size d)
    i=$(best bash -c "/usr/bin/identify -ping -format '%w %h\n' d/*.$ext")
    v=$(best bash -c "vipsheader d/*.$ext")
    rm -f d/descript.ion
    ti=$(best "$cli" --jobs 1 --more-formats --picture-icons --icon-size 32 d)
    rm -f d/*.ico d/descript.ion
    vt=$(best bash -c "vipsthumbnail -s 32x32! -o $work/thumbs/%s.png d/*.$ext")
    printf "%-10s %14s %14s %14s %14s %14s\n" "$ext" "$(rate "$copies" "$t")/s" "$(rate "$copies" "$i")/s" \
        "$(rate "$copies" "$v")/s" "$(rate "$copies" "$ti")/s" "$(rate "$copies" "$vt")/s"
done
