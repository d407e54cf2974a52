#!/usr/bin/env bash
# Two builds of tagrelay-cli over the same tree, side by side in one run: the lists, icon files
# and error lists each writes, compared byte for byte under several option sets, and the time
# each takes, the two run in turns.
#
#   bench/compare_walks.sh OLD_CLI NEW_CLI TREE [RUNS]
#
# The tree's descript.ion and .ico files are removed before every run (a tree of your own:
# copy it first). Each option set walks the tree once per build untimed for the comparison,
# then RUNS times per build in turns (default 5) for the times; the medians are printed.
set -euo pipefail
old=$(realpath "$1") new=$(realpath "$2") tree=$(realpath "$3") runs=${4:-5}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
option_sets=(
    "--artist --album --title --bitrate --audio-mode --playtime --genre"
    "--artist --title --bitrate --playtime --mp3-icons --picture-size --picture-icons --icon-size 40"
    "--genre --picture-size --all-tag-versions --jobs 1"
)

clean() { find "$tree" \( -name descript.ion -o -name '*.ico' \) -type f -delete; }
walk() { # cli options... ; prints the run's output less the elapsed time
    local cli=$1
    shift
    (cd "$scratch" && "$cli" "$@" "$tree") 2>&1 | sed -E 's/ described in [0-9:]+,/ described,/'
}
written() { find "$tree" \( -name descript.ion -o -name '*.ico' \) -type f -print0 | sort -z | xargs -0 -r sha256sum; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

status=0
for options in "${option_sets[@]}"; do
    read -r -a args <<<"$options"
    for side in old new; do
        clean
        walk "${!side}" "${args[@]}" >"$scratch/$side.out"
        written >"$scratch/$side.files"
    done
    if cmp -s "$scratch/old.out" "$scratch/new.out" && cmp -s "$scratch/old.files" "$scratch/new.files"; then
        same="identical ($(wc -l <"$scratch/new.files") files)"
    else
        same="DIFFERENT"
        status=1
        diff "$scratch/old.out" "$scratch/new.out" | head -20 || true
        diff "$scratch/old.files" "$scratch/new.files" | head -20 || true
    fi
    : >"$scratch/old.ms"
    : >"$scratch/new.ms"
    for ((run = 0; run < runs; ++run)); do
        for side in old new; do
            clean
            start=$(now_ms)
            walk "${!side}" "${args[@]}" >/dev/null
            echo $(( $(now_ms) - start )) >>"$scratch/$side.ms"
        done
    done
    printf '%-100s %s; old %s ms, new %s ms (medians of %d)\n' "$options" "$same" \
        "$(median <"$scratch/old.ms")" "$(median <"$scratch/new.ms")" "$runs"
done
clean
exit $status
