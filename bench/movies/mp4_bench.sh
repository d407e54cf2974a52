#!/usr/bin/env bash
# MP4 movies and M4A audio described from their boxes, side by side with the peers reading the
# same facts: ffprobe -show_streams -show_format (no frame counting) for the movies, mutagen
# (length, bitrate, channels and the four tags) for the audio. Prints files per second, peak
# memory, and each kind's line against ffprobe's rate and duration and the truth.
#
#   bench/movies/mp4_bench.sh [BUILD_DIR=build/bench] [WORK=/tmp/tagrelay-mp4-bench] [COPIES=30]
#
# BUILD_DIR is a release build with the benchmarks (see bench/README.md).
set -euo pipefail
build=${1:-build/bench}
work=${2:-/tmp/tagrelay-mp4-bench}
copies=${3:-30}
bench="$(cd "$build" && pwd)/tagrelay_iso_bmff_bench"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first (bench/README.md)" >&2; exit 1; }
mkdir -p "$work/base" "$work/movies" "$work/audio"
cd "$work/base"

ff() { ffmpeg -nostdin -y -v error "$@"; }
x264=(-c:v libx264 -pix_fmt yuv420p -preset veryfast)
# name | truth: frames, seconds
if [ ! -e made ]; then
    ff -f lavfi -i testsrc=size=320x240:rate=25:duration=10 "${x264[@]}" cfr25.mp4
    ff -f lavfi -i testsrc=size=640x480:rate=30000/1001:duration=10 "${x264[@]}" ntsc.mov
    ff -f lavfi -i testsrc=size=1280x720:rate=60:duration=5 "${x264[@]}" sixty.m4v
    ff -f lavfi -i testsrc=size=320x240:rate=25:duration=120 "${x264[@]}" long.mp4
    ff -i cfr25.mp4 -c copy -movflags +faststart faststart.mp4
    ff -i cfr25.mp4 -c copy -metadata:s:v rotate=90 turned.mp4
    ff -i cfr25.mp4 -c copy -movflags frag_keyframe+empty_moov frag.mp4
    for r in 25 50; do
        ff -f lavfi -i testsrc=size=320x240:rate=$r:duration=4 "${x264[@]}" -video_track_timescale 1000 p$r.mp4
    done
    printf 'file p25.mp4\nfile p50.mp4\n' > parts.txt
    ff -f concat -i parts.txt -c copy vfr.mp4
    rm p25.mp4 p50.mp4 parts.txt
    tags=(-metadata artist=Artist -metadata album=Album -metadata title=Title -metadata genre=Jazz)
    ff -f lavfi -i sine=duration=10.497 -ac 2 -c:a aac -b:a 128k "${tags[@]}" aac.m4a
    ff -f lavfi -i sine=duration=10.497 -ac 2 -c:a alac "${tags[@]}" alac.m4a
    ff -f lavfi -i sine=duration=10.497 -ac 2 -c:a aac -movflags frag_keyframe+empty_moov frag.m4a
    ff -f lavfi -i sine=duration=240 -ac 2 -c:a aac -b:a 256k "${tags[@]}" long.m4a
    touch made
fi
truth() {
    case $1 in
        cfr25*|faststart*|turned*|frag.mp4) echo "250 frames, 10 s" ;;
        ntsc*) echo "300 frames, 10.01 s" ;;
        sixty*) echo "300 frames, 5 s" ;;
        long.mp4) echo "3000 frames, 120 s" ;;
        vfr*) echo "300 frames, 8 s" ;;
        long.m4a) echo "240 s" ;;
        *.m4a) echo "10.497 s" ;;
    esac
}
for f in *.mp4 *.mov *.m4v; do
    for i in $(seq 1 "$copies"); do cp -n "$f" "$work/movies/$i-$f"; done
done
for f in *.m4a; do
    for i in $(seq 1 "$copies"); do cp -n "$f" "$work/audio/$i-$f"; done
done
movies=("$work"/movies/*)
audio=("$work"/audio/*)
# Everything in the page cache: warm runs.
cat "${movies[@]}" "${audio[@]}" > /dev/null

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
echo "== movies: ${#movies[@]} files"
"$bench" --runs 3 "${movies[@]}" | head -1
echo "tagrelay peak memory: $(peak "$bench" "${movies[@]}") KB"
start=$(date +%s.%N)
for f in "${movies[@]}"; do ffprobe -v error -show_streams -show_format "$f" > /dev/null; done
end=$(date +%s.%N)
echo "ffprobe -show_streams -show_format: $(awk -v n=${#movies[@]} -v s="$start" -v e="$end" \
    'BEGIN { printf "%.1f files/s, %.0f us per file", n / (e - s), (e - s) / n * 1e6 }') (a process per file)"
echo "ffprobe peak memory: $(peak ffprobe -v error -show_streams -show_format "${movies[0]}") KB"

echo "== audio: ${#audio[@]} files"
"$bench" --runs 3 "${audio[@]}" | head -1
mutagen_read='
import sys, time
from mutagen.mp4 import MP4
files = sys.argv[1:]
start = time.perf_counter()
for name in files:
    f = MP4(name)
    facts = (f.info.length, f.info.bitrate, f.info.channels,
             [f.tags.get(k) for k in ("\xa9ART", "\xa9alb", "\xa9nam", "\xa9gen")] if f.tags else None)
took = time.perf_counter() - start
print("%d files: %.1f files/s, %.1f us per file" % (len(files), len(files) / took, took / len(files) * 1e6))
'
echo "mutagen: $(/usr/bin/python3 -c "$mutagen_read" "${audio[@]}")"

echo "== lines (truth | tagrelay | ffprobe avg rate, frames, duration / mutagen length)"
for f in *.mp4 *.mov *.m4v; do
    line=$("$bench" --lines "$f" | tail -1 | cut -f2)
    probe=$(ffprobe -v error -select_streams v -show_entries stream=avg_frame_rate,nb_frames,duration \
        -of csv=p=0 "$f")
    printf '%-14s %-20s | %-40s | %s\n' "$f" "$(truth "$f")" "$line" "$probe"
done
for f in *.m4a; do
    line=$("$bench" --lines "$f" | tail -1 | cut -f2)
    length=$(/usr/bin/python3 -c "from mutagen.mp4 import MP4; i = MP4('$f').info; print(i.length, i.bitrate // 1000, 'kbs')")
    printf '%-14s %-20s | %-60s | %s\n' "$f" "$(truth "$f")" "$line" "$length"
done
