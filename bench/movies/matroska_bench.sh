#!/usr/bin/env bash
# Matroska and WebM movies per second: tagrelay-cli --more-formats --movie-info over a folder of
# movies against ffprobe reading the same facts (size, frame rate, duration) file by file,
# first without -count_frames, then with it (the frame count a rate needs when the file gives
# none). Also prints, movie by movie, the line written next to what ffprobe gives for it.
#
# Usage: bench/movies/matroska_bench.sh [copies=10] [dir=/tmp/tagrelay-matroska-bench] [cli]
# The movies are made once with ffmpeg and mkvmerge (not timed) and copied `copies` times;
# every run reads them from the page cache.
set -euo pipefail
copies=${1:-10}
dir=${2:-/tmp/tagrelay-matroska-bench}
cli=${3:-$(dirname "$0")/../../build/bench/tagrelay-cli}
mkdir -p "$dir/made" "$dir/tree"

make_movie() { # name, then the ffmpeg arguments after the input
    local name=$1
    shift
    [ -s "$dir/made/$name" ] || ffmpeg -v error -y "$@" "$dir/made/$name"
}
src="-f lavfi -i testsrc2=size=640x360"
# shellcheck disable=SC2086
{
    make_movie cfr25.mkv $src:rate=25 -t 60 -c:v mpeg4 -q:v 5
    make_movie ntsc.mkv $src:rate=30000/1001 -t 60 -c:v libx264 -preset veryfast
    make_movie sixty.mkv $src:rate=60 -t 30 -c:v libx264 -preset ultrafast
    make_movie vp9.webm $src:rate=30 -t 30 -c:v libvpx-vp9 -deadline realtime -cpu-used 8 \
        -b:v 500k
    make_movie vfr.mkv -f lavfi -i testsrc2=size=640x360:rate=25:duration=20 \
        -f lavfi -i testsrc2=size=640x360:rate=50:duration=20 \
        -filter_complex '[0:v][1:v]concat=n=2:v=1[v]' -map '[v]' -vsync vfr -c:v libx264 \
        -preset ultrafast
    [ -s "$dir/made/piped.mkv" ] || ffmpeg -v error $src:rate=25 -frames:v 1500 -c:v libx264 \
        -preset veryfast -bf 2 -f matroska - > "$dir/made/piped.mkv"
    [ -s "$dir/made/audio.mp3" ] || ffmpeg -v error -f lavfi -i sine=d=60 -c:a libmp3lame \
        "$dir/made/audio.mp3"
    [ -s "$dir/made/merged.mkv" ] || mkvmerge -q -o "$dir/made/merged.mkv" "$dir/made/cfr25.mkv" \
        "$dir/made/audio.mp3"
}
movies=(cfr25.mkv ntsc.mkv sixty.mkv vp9.webm vfr.mkv piped.mkv merged.mkv)
rm -rf "$dir/tree" && mkdir -p "$dir/tree"
for ((i = 0; i < copies; i++)); do
    for movie in "${movies[@]}"; do cp "$dir/made/$movie" "$dir/tree/$i-$movie"; done
done
count=$((copies * ${#movies[@]}))
cat "$dir"/tree/* > /dev/null # into the page cache

seconds() { # the best of three runs of the command, in seconds
    local best=
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        best=$(echo "$end - $start" | bc -l | awk -v b="$best" '{ print (b == "" || $1 < b) ? $1 : b }')
    done
    echo "$best"
}
probe() { # ffprobe over every movie; extra options as given
    for movie in "$dir"/tree/*; do
        ffprobe -v error -select_streams v:0 "$@" -show_entries \
            stream=width,height,r_frame_rate,avg_frame_rate,nb_read_frames:format=duration \
            -of csv=p=0 "$movie"
    done
}
ours=$(seconds "$cli" --more-formats --movie-info "$dir/tree")
plain=$(seconds probe)
counting=$(seconds probe -count_frames)
rate() { echo "$count / $1" | bc -l | xargs printf '%.1f'; }
echo "$count movies ($(du -sh "$dir/tree" | cut -f1)), best of 3 runs, page cache warm"
printf '%-34s %8s s %10s movies/s\n' "tagrelay-cli --more-formats" "$ours" "$(rate "$ours")"
printf '%-34s %8s s %10s movies/s\n' "ffprobe" "$plain" "$(rate "$plain")"
printf '%-34s %8s s %10s movies/s\n' "ffprobe -count_frames" "$counting" "$(rate "$counting")"

echo
echo "movie | tagrelay line | ffprobe: w,h,r_frame_rate,avg_frame_rate,frames counted,duration"
"$cli" --more-formats --movie-info "$dir/tree" > /dev/null 2>&1
for movie in "${movies[@]}"; do
    line=$(grep -a "\"0-$movie\"" "$dir/tree/descript.ion" | sed 's/^"[^"]*" //' | tr -d '\r')
    facts=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries \
        stream=width,height,r_frame_rate,avg_frame_rate,nb_read_frames:format=duration \
        -of csv=p=0 "$dir/tree/0-$movie" | paste -sd,)
    echo "$movie | $line | $facts"
done
