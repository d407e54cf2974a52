#!/usr/bin/env bash
# Times the window program against tagrelay-cli on the same two trees and prints the ratio.
#
#   bench/gui_walk.sh [BUILD_DIR]        (default build/release)
#
# Trees, made once under /tmp/tagrelay-gui-bench (set TAGRELAY_BENCH_DIR to move them):
#   short/  1040 MP3 files of 3 seconds (CBR 128 kbit/s, tagged) in 320 folders: 32 artist
#           folders of 10 album folders, 3 or 4 tracks each (4 in the first 80 albums)
#   vbr/    300 entries of one 10-minute VBR file (lame -V 5) in 10 folders, as hard links, so
#           the bytes come from the page cache as they would for 300 distinct files read twice
# and, when COLLECTION names one, a collection-shaped tree of artist and album folders with
# front covers in the tags (bench/collection/make_collection.py makes it): there the window
# shows every cover, which the command line does not decode.
#
# Both programs start from the same brelvoka.ini in the working folder: every MP3 fact ticked
# and the tree as the remembered start folder. The window program runs on a virtual display
# under the openbox window manager, as on a desktop (tests/support/run_on_x_display), and is
# driven as a user would: xdotool clicks "Start and select startdirectory" and presses Return
# in the folder dialog, which opens on the remembered folder. Its time runs from that Return to
# the moment the start folder's list, the last one the walk writes, is put in place, as
# inotifywait sees it (so the clock costs the window nothing); the command line's time is the
# whole process. Each is run RUNS times (default 3) and the median is kept.
set -euo pipefail

build=${1:-build/release}
build=$(cd "$build" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${TAGRELAY_BENCH_DIR:-/tmp/tagrelay-gui-bench}
runs=${RUNS:-3}

for tool in Xvfb openbox xdotool lame ffmpeg inotifywait; do
    command -v "$tool" >/dev/null || { echo "gui_walk: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
[ -x "$build/tagrelay" ] && [ -x "$build/tagrelay-cli" ] \
    || { echo "gui_walk: no tagrelay and tagrelay-cli in $build" >&2; exit 1; }

make_trees()
{
    mkdir -p "$root/source"
    cd "$root/source"
    if [ ! -f short.mp3 ]; then
        ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=3" -ac 2 -ar 44100 short.wav
        lame --quiet -b 128 --tt "Short" --ta "Bench Artist" --tl "Bench Album" --tg Rock \
            short.wav short.mp3
    fi
    if [ ! -f long.mp3 ]; then
        ffmpeg -loglevel error -y -f lavfi -i "anoisesrc=d=600:c=pink:a=0.3" -ac 2 -ar 44100 long.wav
        lame --quiet -V 5 -q 9 --tt "Long" --ta "Bench Artist" --tg Rock long.wav long.mp3
    fi
    rm -f short.wav long.wav
    if [ ! -f "$root/short/.shape-1040" ]; then
        rm -rf "$root/short"
        local album=0 artist number tracks
        for artist in $(seq -w 1 32); do
            for number in $(seq -w 1 10); do
                mkdir -p "$root/short/artist$artist/album$number"
                tracks=3
                [ $album -lt 80 ] && tracks=4
                for track in $(seq 1 $tracks); do
                    cp short.mp3 "$root/short/artist$artist/album$number/track$track.mp3"
                done
                album=$((album + 1))
            done
        done
        touch "$root/short/.shape-1040"
    fi
    if [ ! -d "$root/vbr" ]; then
        for folder in $(seq -w 1 10); do
            mkdir -p "$root/vbr/folder$folder"
            for track in $(seq -w 1 30); do
                ln long.mp3 "$root/vbr/folder$folder/long$track.mp3"
            done
        done
    fi
}

# brelvoka.ini: eleven flags (the seven MP3 facts ticked), icon size 50, run counter 1 (far
# from the thank-you window), then the start folder's bytes.
write_settings()
{
    local folder=$1
    {
        for flag in 1 1 1 1 1 1 1 0 0 0 0 50 1; do
            printf "$(printf '\\x%02x' "$flag")\\x00\\x00\\x00"
        done
        printf '%s' "$folder"
    } >"$work/brelvoka.ini"
}

clear_lists()
{
    find "$1" -iname descript.ion -delete
}

# How many description lines the tree holds, with shell builtins only: the watcher must not
# take the processor from the program it times.
count_lines()
{
    local total=0 list lines
    shopt -s globstar
    for list in "$1"/**/descript.ion; do
        [ -f "$list" ] || continue
        mapfile -t lines <"$list"
        total=$((total + ${#lines[@]}))
    done
    echo "$total"
}

now_ms()
{
    echo $(($(date +%s%N) / 1000000))
}

time_cli()
{
    local tree=$1 start end
    clear_lists "$tree"
    write_settings "$tree"
    start=$(now_ms)
    (cd "$work" && "$build/tagrelay-cli" "$tree" >/dev/null 2>&1 </dev/null)
    end=$(now_ms)
    echo $((end - start))
}

# Runs inside the virtual display: start the program, press start, accept the dialog, wait for
# the last line, then end the program (the measurement is over; its end screen waits for a
# close that a window manager would send).
drive_window()
{
    local tree=$1 expected=$2 program window dialog start end wait_fd
    cd "$work"
    "$build/tagrelay" >/dev/null 2>&1 &
    program=$!
    window=$(xdotool search --sync --onlyvisible --name "Tagrelay for mp3-files" | head -1)
    # The window is on screen a moment before its option panel: click until the dialog opens.
    dialog=
    while [ -z "$dialog" ]; do
        xdotool mousemove --window "$window" 225 405 click 1
        sleep 0.2
        dialog=$(xdotool search --onlyvisible --name "Bitte w" | head -1 || true)
    done
    xdotool windowfocus --sync "$dialog"
    sleep 0.3 # the dialog has listed the folder
    # The start folder's list is the last one written, into place by a rename: the walk is
    # done when inotify reports it. The watcher sleeps in the kernel until then.
    exec {wait_fd}< <(inotifywait -m -q -t 120 -e moved_to -e create --format '%f' "$tree" 2>/dev/null \
        | grep --line-buffered -m1 -ix 'descript.ion')
    sleep 0.1 # the watch is in place
    start=$(now_ms)
    # The dialog is gone before the key is released: the release may find no window.
    xdotool key --window "$dialog" Return 2>/dev/null
    read -r _ <&"$wait_fd"
    end=$(now_ms)
    # The watcher would wait for further events until its time-out.
    pkill -f "inotifywait -m -q -t 120 -e moved_to -e create --format %f $tree" || true
    local found
    found=$(count_lines "$tree")
    [ "$found" -eq "$expected" ] || { echo "gui_walk: $found of $expected lines in $tree" >&2; exit 1; }
    exec {wait_fd}<&-
    kill "$program"
    wait "$program" 2>/dev/null || true
    echo $((end - start))
}

time_gui()
{
    local tree=$1 expected=$2
    clear_lists "$tree"
    write_settings "$tree"
    timeout 300 "$repo/tests/support/run_on_x_display" openbox \
        bash -c "$(declare -f drive_window count_lines now_ms); export -f now_ms; build='$build' work='$work' \
                 drive_window '$tree' '$expected'"
}

median()
{
    printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"
}

measure()
{
    local name=$1 tree=$2 expected=$3 cli=() gui=() i
    for ((i = 0; i < runs; ++i)); do
        cli+=("$(time_cli "$tree")")
        gui+=("$(time_gui "$tree" "$expected")")
    done
    local c g
    c=$(median "${cli[@]}")
    g=$(median "${gui[@]}")
    printf '%-34s %8d ms %8d ms %6s\n' "$name" "$g" "$c" "$(awk -v g="$g" -v c="$c" 'BEGIN { printf "%.2f", g / c }')"
}

make_trees
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Warm the page cache once.
cat "$root"/source/*.mp3 "$root"/short/*/*/*.mp3 >/dev/null

printf '%-34s %11s %11s %6s\n' "tree" "window" "cli" "ratio"
measure "1040 short MP3 files, 320 folders" "$root/short" 1040
measure "300 x 10-minute VBR, 10 folders" "$root/vbr" 300
if [ -n "${COLLECTION:-}" ]; then
    collection=$(cd "$COLLECTION" && pwd)
    files=$(find "$collection" -iname '*.mp3' | wc -l)
    find "$collection" -iname '*.mp3' -print0 | xargs -0 cat >/dev/null
    measure "collection, $files MP3 files, covers" "$collection" "$files"
fi
