#!/usr/bin/env bash
# Walks one MP3 tree with tagrelay-cli and with the programs a user might pick instead, warm
# (files in the page cache) and cold (page cache dropped before each run, when run as root),
# and prints one table. Installs the peers from Debian when they are missing.
#
#   bench/peers.sh [--files N] [--folders F] [--runs R] [--tree DIR]
#
# The tree is made once (lame-encoded files, about 45 s each, one in eight VBR) and kept
# in DIR (default /tmp/tagrelay-peers-tree) for later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

files=1040
folders=20
runs=3
tree=/tmp/tagrelay-peers-tree
while [ $# -gt 0 ]; do
    case "$1" in
    --files) files=$2; shift 2 ;;
    --folders) folders=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done

need=()
command -v lame >/dev/null || need+=(lame)
command -v sox >/dev/null || need+=(sox)
command -v mp3info >/dev/null || need+=(mp3info)
command -v mediainfo >/dev/null || need+=(mediainfo)
command -v exiftool >/dev/null || need+=(libimage-exiftool-perl)
/usr/bin/python3 -c "import mutagen" 2>/dev/null || need+=(python3-mutagen)
if [ ${#need[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

cmake --preset release -B build/bench -DTAGRELAY_WITH_QT=OFF >/dev/null
cmake --build build/bench --target tagrelay-cli >/dev/null
cli=build/bench/tagrelay-cli

if [ ! -f "$tree/.complete" ]; then
    rm -rf "$tree"
    mkdir -p "$tree/.sources"
    # Eight distinct sources: seven CBR, one VBR, tagged like a ripper would.
    for i in 0 1 2 3 4 5 6 7; do
        sox -n -r 44100 -c 2 "$tree/.sources/$i.wav" synth 45 pinknoise tremolo $((i + 2)) 60 vol 0.3
        if [ "$i" -eq 7 ]; then options="-V 2"; else options="-b $((128 + 32 * (i % 3)))"; fi
        lame --quiet $options --tt "Title $i" --ta "Artist $i" --tl "Album" --tg Rock \
            --add-id3v2 "$tree/.sources/$i.wav" "$tree/.sources/$i.mp3"
    done
    for ((n = 0; n < files; n++)); do
        folder="$tree/folder$((n % folders))"
        mkdir -p "$folder"
        cp "$tree/.sources/$((n % 8)).mp3" "$folder/track$n.mp3"
    done
    rm -rf "$tree/.sources"
    touch "$tree/.complete"
fi
bytes=$(du -sb "$tree" | cut -f1)

can_drop=0
if [ "$(id -u)" -eq 0 ] && (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    can_drop=1
fi

mutagen_script='
import os, sys, mutagen.mp3
for root, dirs, names in os.walk(sys.argv[1]):
    for name in names:
        if name.lower().endswith(".mp3"):
            f = mutagen.mp3.MP3(os.path.join(root, name))
            f.info.length, f.info.bitrate, f.info.mode, f.tags
'

declare -A commands=(
    ["tagrelay-cli"]="$cli --artist --album --title --bitrate --audio-mode --playtime --genre $tree"
    ["tagrelay-cli --no-read-ahead"]="$cli --no-read-ahead --artist --album --title --bitrate --audio-mode --playtime --genre $tree"
    ["mutagen"]="/usr/bin/python3 -c '$mutagen_script' $tree"
    ["mp3info -F"]="find $tree -name '*.mp3' -exec mp3info -F -p '%a %l %t %r %o %S %g\n' {} +"
    ["mediainfo"]="mediainfo $tree"
    ["exiftool"]="exiftool -q -r -ext mp3 $tree"
)
order=("tagrelay-cli" "tagrelay-cli --no-read-ahead" "mutagen" "mp3info -F" "mediainfo" "exiftool")

# Median of the runs, in milliseconds.
measure() {
    local command=$1 cold=$2 times=()
    for ((r = 0; r < runs; r++)); do
        if [ "$cold" -eq 1 ]; then sync; echo 3 >/proc/sys/vm/drop_caches; fi
        local start end
        start=$(date +%s%N)
        bash -c "$command" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        times+=($(((end - start) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

echo "$files MP3 files, $((bytes / 1000000)) MB in $folders folders; median of $runs runs"
printf '| %-30s | %10s | %10s |\n' "program" "warm ms" "cold ms"
printf '|%s|%s|%s|\n' "--------------------------------" "------------" "------------"
for name in "${order[@]}"; do
    command=${commands[$name]}
    bash -c "$command" >/dev/null 2>&1 || true # fills the page cache for the warm runs
    warm=$(measure "$command" 0)
    cold="-"
    if [ $can_drop -eq 1 ]; then cold=$(measure "$command" 1); fi
    printf '| %-30s | %10s | %10s |\n' "$name" "$warm" "$cold"
done
